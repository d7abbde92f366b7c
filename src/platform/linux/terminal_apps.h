#pragma once

#include <span>
#include <string_view>

namespace vak {

// Application identifiers (lower-cased, as FrontmostApp reports them) of terminal emulators,
// which take Ctrl+Shift+V and Ctrl+Shift+C for paste and copy: a plain Ctrl+C there interrupts
// the running program instead of copying.
std::span<const std::string_view> terminalApps();

// Whether `appId` is one of terminalApps(). An identifier in reverse-domain form also matches
// by its last part ("org.kde.konsole" as "konsole").
bool isTerminalApp(std::string_view appId);

} // namespace vak
