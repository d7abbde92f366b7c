#pragma once

#include "platform/paste_style.h"

#include <span>
#include <string_view>

namespace vak {

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

} // namespace vak
