#include "platform/linux/terminal_apps.h"

#include <algorithm>
#include <array>

namespace vak {

namespace {

// GTK application ids and the class part of WM_CLASS of the common terminal emulators.
constexpr auto kTerminals = std::to_array<std::string_view>({
    "alacritty",
    "blackbox",
    "com.raggesilver.blackbox",
    "console",
    "cool-retro-term",
    "deepin-terminal",
    "foot",
    "footclient",
    "ghostty",
    "gnome-terminal",
    "gnome-terminal-server",
    "guake",
    "kgx",
    "kitty",
    "konsole",
    "lxterminal",
    "mate-terminal",
    "org.gnome.console",
    "org.gnome.terminal",
    "qterminal",
    "rxvt",
    "sakura",
    "st",
    "st-256color",
    "terminator",
    "terminology",
    "tilda",
    "tilix",
    "urxvt",
    "wezterm",
    "xfce4-terminal",
    "xterm",
    "yakuake",
    "uxterm",
    "io.elementary.terminal",
});

bool listed(std::string_view id) {
    return std::find(kTerminals.begin(), kTerminals.end(), id) != kTerminals.end();
}

} // namespace

std::span<const std::string_view> terminalApps() {
    return kTerminals;
}

bool isTerminalApp(std::string_view appId) {
    if (appId.empty()) return false;
    if (listed(appId)) return true;
    const auto dot = appId.rfind('.');
    return dot != std::string_view::npos && listed(appId.substr(dot + 1));
}

} // namespace vak
