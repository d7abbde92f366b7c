#pragma once

#include "base/time_util.h"
#include "platform/pasteboard.h"

#include <cstdint>
#include <memory>

namespace vak {

class WaylandClient;

// The Wayland clipboard through the wlroots data-control protocol (wlroots compositors, KDE
// Plasma, COSMIC; not GNOME), which serves a client that never has the keyboard focus — the
// ordinary clipboard of a Wayland client only takes a write made right after the user typed or
// clicked into one of its windows, which a daemon reading its trigger key from the input
// devices never is.
//
// The change count counts the compositor's selection announcements, ours included: every write
// waits until the compositor has announced it, so the count read after a write is the one that
// write produced. A snapshot keeps every type of the current selection but the X11 protocol
// targets, within the same size and time caps as on X11. What we write stays ours to serve
// until someone else copies; when the program ends the compositor drops it (as it drops any
// program's selection).
class DataControlPasteboard final : public Pasteboard {
  public:
    // Which of the seat's two selections it is.
    enum class Selection { Clipboard, Primary };

    // Nothing when the compositor offers no data control (for the primary selection: not its
    // second version) or no seat.
    static std::shared_ptr<DataControlPasteboard> create(std::shared_ptr<WaylandClient> client,
                                                         Selection selection = Selection::Clipboard,
                                                         PasteboardLimits limits = {});
    ~DataControlPasteboard() override;

    long changeCount() override;
    PasteboardSnapshot snapshot() override;
    std::optional<std::string> text() override;
    void clear() override;
    void setText(std::string_view text) override;
    void write(const PasteboardSnapshot& snapshot) override;
    // The text requests made of our last setText's source, by anyone (the protocol does not
    // say who asks).
    std::optional<long> readCount() override;

    struct State;

  private:
    DataControlPasteboard() = default;

    // The types of the current selection and which selection that was.
    struct Offered {
        std::vector<std::string> types;
        std::uint64_t generation = 0;
    };
    Offered offered();
    // The data of one type of that selection; nothing when it changed meanwhile, the owner did
    // not answer by `deadline` or offered more than `limit` bytes.
    std::optional<std::string> receive(const Offered& offered, const std::string& type,
                                       SteadyClock::time_point deadline, std::size_t limit);

    std::shared_ptr<WaylandClient> client_;
    PasteboardLimits limits_;
    std::shared_ptr<State> state_;
};

} // namespace vak
