#pragma once

#include "platform/key_synth.h"

#include <optional>
#include <string_view>

namespace vak {

// How an application takes a paste and gives a copy.
struct PasteStyle {
    KeyChord paste;
    // The copy shortcut; none where selecting text already is the copy (it is then the PRIMARY
    // selection, and a copy key there would reach the program: Ctrl+Shift+C is ^C in xterm).
    std::optional<KeyChord> copy;
    // The paste key reads the PRIMARY selection (X11's "selected text"), not the clipboard: the
    // text to paste goes there too.
    bool pastesPrimary = false;

    bool operator==(const PasteStyle&) const = default;
};

// How `appId` (as FrontmostApp reports it) takes a paste: its terminal's way, else the system's
// standard one.
const PasteStyle& pasteStyleFor(std::string_view appId);

// Whether `appId` is a terminal emulator, which must get text exactly as typed.
bool isTerminal(std::string_view appId);

} // namespace vak
