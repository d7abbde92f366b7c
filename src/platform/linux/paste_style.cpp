#include "platform/linux/terminal_families.h"

#include <algorithm>
#include <array>

namespace vak {

namespace {

constexpr KeyChord kCtrlShiftV{true, true, false, ChordKey::V};
constexpr KeyChord kCtrlShiftC{true, true, false, ChordKey::C};
constexpr KeyChord kShiftInsert{false, true, false, ChordKey::Insert};
constexpr PasteStyle kTerminalClipboard{kCtrlShiftV, kCtrlShiftC, false};

// xterm binds no key to the clipboard by default and rxvt-unicode's Ctrl+Alt+V is easily
// remapped; Shift+Insert reads PRIMARY in both (measured: xterm 379, rxvt-unicode 9.30).
constexpr auto kXtermApps = std::to_array<std::string_view>({
    "xterm",
    "uxterm",
    "lxterm",
    "koi8rxterm",
    "urxvt",
    "rxvt",
    "rxvt-unicode",
    "aterm",
    "eterm",
});

// Terminals built on GNOME's VTE widget (measured: xfce4-terminal 1.0.4, sakura, lxterminal).
constexpr auto kVteApps = std::to_array<std::string_view>({
    "gnome-terminal",
    "gnome-terminal-server",
    "org.gnome.terminal",
    "org.gnome.console",
    "kgx",
    "console",
    "xfce4-terminal",
    "sakura",
    "lxterminal",
    "mate-terminal",
    "tilix",
    "com.gexperts.tilix",
    "terminator",
    "guake",
    "tilda",
    "blackbox",
    "com.raggesilver.blackbox",
    "io.elementary.terminal",
    "roxterm",
    "termite",
});

// Qt terminals (measured: qterminal 1.2.0, konsole 22.12).
constexpr auto kQtApps = std::to_array<std::string_view>({
    "qterminal",
    "konsole",
    "yakuake",
    "cool-retro-term",
    "deepin-terminal",
});

// Stand-alone terminals with their own renderer (measured: kitty 0.26, alacritty 0.11).
constexpr auto kStandaloneApps = std::to_array<std::string_view>({
    "kitty",
    "alacritty",
    "wezterm",
    "org.wezfurlong.wezterm",
    "foot",
    "footclient",
    "ghostty",
    "com.mitchellh.ghostty",
    "st",
    "st-256color",
    "contour",
    "rio",
    "terminology",
});

constexpr std::array<TerminalFamily, 4> kFamilies = {{
    {"xterm", {kShiftInsert, std::nullopt, true}, kXtermApps},
    {"vte", kTerminalClipboard, kVteApps},
    {"qt", kTerminalClipboard, kQtApps},
    {"standalone", kTerminalClipboard, kStandaloneApps},
}};

const TerminalFamily* familyListing(std::string_view id) {
    for (const TerminalFamily& family : kFamilies) {
        if (std::find(family.apps.begin(), family.apps.end(), id) != family.apps.end())
            return &family;
    }
    return nullptr;
}

} // namespace

std::span<const TerminalFamily> terminalFamilies() {
    return kFamilies;
}

const TerminalFamily* terminalFamilyOf(std::string_view appId) {
    if (appId.empty()) return nullptr;
    if (const TerminalFamily* family = familyListing(appId)) return family;
    const auto dot = appId.rfind('.');
    return dot == std::string_view::npos ? nullptr : familyListing(appId.substr(dot + 1));
}

const PasteStyle& pasteStyleFor(std::string_view appId) {
    const TerminalFamily* family = terminalFamilyOf(appId);
    return family != nullptr ? family->style : STANDARD_PASTE_STYLE;
}

bool isTerminal(std::string_view appId) {
    return terminalFamilyOf(appId) != nullptr;
}

} // namespace vak
