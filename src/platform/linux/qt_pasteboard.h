#pragma once

#include "platform/pasteboard.h"

#include <cstddef>
#include <memory>

namespace vak {

// The CLIPBOARD selection (or, made with Selection::Primary, the PRIMARY selection) through Qt's
// clipboard. Needs a QGuiApplication; until one exists (and on any thread but its own) the
// pasteboard reads as empty and ignores writes.
//
// The change count counts Qt's change notifications, which cover our writes at once and other
// programs' writes once the event loop has seen them. A snapshot keeps every MIME format of the
// current contents whose name starts in lower case (X11 housekeeping targets such as TARGETS
// and TIMESTAMP are left out), reading until the formats are done, the contents stop fitting in
// the size cap, or the reads have taken longer than the time cap: an owner that answers slowly
// gives a partial snapshot rather than a frozen program. Text we set carries every one of the
// TRANSIENT_MARKERS, which clipboard managers take as "do not keep".
//
// On X11 it sees the requests for the selection it owns (a filter on Qt's xcb connection), and
// counts the data requests of the client whose window was active when the text was set: the X
// resource ids of one client share their high bits.
class QtPasteboard final : public Pasteboard {
  public:
    struct Limits {
        std::size_t maxBytes = 64u << 20; // all formats together
        double maxReadSeconds = 2.0;      // all reads together
    };
    enum class Selection { Clipboard, Primary };

    explicit QtPasteboard(Selection selection = Selection::Clipboard);
    QtPasteboard(Selection selection, Limits limits);
    ~QtPasteboard() override;

    long changeCount() override;
    PasteboardSnapshot snapshot() override;
    std::optional<std::string> text() override;
    void clear() override;
    void setText(std::string_view text) override;
    void write(const PasteboardSnapshot& snapshot) override;
    std::optional<long> readCount() override;
    bool readsOfFocusedAppOnly() override;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

} // namespace vak
