#pragma once

#include "platform/key_synth.h"

#include <optional>
#include <span>
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

// Ctrl+V and Ctrl+C: every application that is not a terminal.
inline constexpr PasteStyle STANDARD_PASTE_STYLE = {
    {true, false, false, ChordKey::V}, KeyChord{true, false, false, ChordKey::C}, false};

// Terminal emulators that share one way of pasting, with the application identifiers
// (lower-cased, as FrontmostApp reports them: a GTK application id or the class part of
// WM_CLASS) of their members. A plain Ctrl+V there reaches the shell as ^V ("insert the next
// key literally"), and a plain Ctrl+C interrupts the running program.
struct TerminalFamily {
    std::string_view name;
    PasteStyle style;
    std::span<const std::string_view> apps;
};

// Every family: xterm and rxvt (Shift+Insert reads PRIMARY; the selection is the copy), VTE,
// Qt and Konsole, and the stand-alone GPU terminals (Ctrl+Shift+V and Ctrl+Shift+C).
std::span<const TerminalFamily> terminalFamilies();

// The family of `appId`, if it is a terminal. An identifier in reverse-domain form also
// matches by its last part ("org.kde.konsole" as "konsole").
const TerminalFamily* terminalFamilyOf(std::string_view appId);

// How `appId` takes a paste: its terminal family's way, else the standard one.
const PasteStyle& pasteStyleFor(std::string_view appId);

} // namespace vak
