#include "platform/host.h"

#include <array>

namespace vak {

namespace {

// The codes keep the names of the keyboard the table was made for; Linux keyboards say these.
constexpr auto kKeyNameWords = std::to_array<KeyWord>({{"Command", "Super"}, {"Option", "Alt"}});

constexpr Host kLinux{
    .computer = "your computer",
    .statusPlace = "tray",
    .requestPlatform = "linux",
    .toolsMissing = "whisper-cli not found (VAK_TOOL_PATH, /usr/local/bin, /usr/bin)",
    .keyStore = "the login keyring (Secret Service)",
    .microphoneHelp = "no sound server answers (start PipeWire or PulseAudio for this session)",
    .soundInput = "Settings ▸ Sound ▸ Input (or pavucontrol ▸ Input Devices)",
    .captureName = "capture",
    .keyAccessHelp = "X11 session ▸ DISPLAY ▸ XInput2, start 'vak-dictate' inside it, then "
                     "relaunch.",
    .keyAccessWaiting = "X11 session ▸ DISPLAY ▸ XInput2 ▸ vak-dictate",
    .keyNameWords = kKeyNameWords,
    .keyShortNameWords = {},
    .commandChordModifier = "Alt",
    // Left Super: GNOME, KDE Plasma, Cinnamon and Budgie open their launcher with it.
    .desktopLauncherKey = 55,
};

} // namespace

const Host& host() {
    return kLinux;
}

} // namespace vak
