#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vak {

// One item of the pasteboard: the data of every type it offered, in the order offered. Types
// are MIME types on Linux ("text/plain", "text/html", …).
struct PasteboardItem {
    std::vector<std::pair<std::string, std::string>> types; // type → bytes

    bool operator==(const PasteboardItem&) const = default;
};

// A deep copy of the pasteboard, independent of its later state. Empty when it held nothing.
using PasteboardSnapshot = std::vector<PasteboardItem>;

// How much a snapshot reads at most: an owner that offers huge data or answers slowly gives a
// partial snapshot rather than a frozen program.
struct PasteboardLimits {
    std::size_t maxBytes = 64u << 20; // all types together
    double maxReadSeconds = 2.0;      // all reads together
};

// What tells clipboard managers and history tools to leave a copy out of their history: a MIME
// type with this value among the copy's types. KDE's Klipper (and the Wayland history tools that
// follow it) honour the first, CopyQ the second (only the value "1"); the GTK clipboard
// managers of Debian 12 (xfce4-clipman, parcellite, clipit, diodon, gpaste) honour none.
struct ClipboardMarker {
    std::string_view type;
    std::string_view value;
};
inline constexpr std::array<ClipboardMarker, 2> TRANSIENT_MARKERS = {{
    {"x-kde-passwordManagerHint", "secret"},
    {"application/x-copyq-hidden", "1"},
}};

// The system pasteboard that copy and paste go through (the CLIPBOARD selection on Linux), or,
// as a second instance, X11's PRIMARY selection (the text selected last, which some terminals
// paste).
//
// Main thread only: implementations talk to the interface toolkit, which lives there. Snapshots
// are capped in size and stop reading after a time budget, so an application that owns the
// pasteboard and answers slowly or offers huge data costs a paste a moment, not a long freeze.
class Pasteboard {
  public:
    Pasteboard() = default;
    virtual ~Pasteboard() = default;
    Pasteboard(const Pasteboard&) = delete;
    Pasteboard& operator=(const Pasteboard&) = delete;

    // A number that changes whenever anyone writes to the pasteboard, us included.
    virtual long changeCount() = 0;
    // Every item with every type whose data could be read.
    virtual PasteboardSnapshot snapshot() = 0;
    // The plain-text string, when the pasteboard has one.
    virtual std::optional<std::string> text() = 0;
    virtual void clear() = 0;
    // Replaces the contents by `text` (UTF-8) as plain text, with the TRANSIENT_MARKERS so
    // clipboard managers and history tools leave it out.
    virtual void setText(std::string_view text) = 0;
    // Replaces the contents by the items of `snapshot`.
    virtual void write(const PasteboardSnapshot& snapshot) = 0;

    // How many times the application that had the focus at our last setText has taken that
    // text since (where the platform cannot tell applications apart: any application); nothing
    // where reads cannot be seen at all.
    virtual std::optional<long> readCount() { return std::nullopt; }
    // Whether readCount counts the focused application's reads alone; where it counts every
    // reader's, a clipboard manager's read may come first.
    virtual bool readsOfFocusedAppOnly() { return false; }
};

// The process's pasteboard. Until one is installed: always empty, writes go nowhere.
std::shared_ptr<Pasteboard> pasteboard();
void installPasteboard(std::shared_ptr<Pasteboard> board);

// The PRIMARY selection, where the platform has one. Until one is installed (and on macOS):
// always empty, writes go nowhere.
std::shared_ptr<Pasteboard> primarySelection();
void installPrimarySelection(std::shared_ptr<Pasteboard> selection);

} // namespace vak
