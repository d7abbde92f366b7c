#include "base/environment.h"
#include "base/log.h"
#include "foundation/process_values.h"
#include "platform/desktop_shortcut.h"
#include "platform/linux/desktop_backend.h"
#include "platform/linux/gnome_shortcuts.h"
#include "platform/linux/pulse_audio_backend.h"
#include "platform/linux/pulse_sound_player.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/secret_store_libsecret.h"
#include "platform/linux/systemd_service_control.h"
#include "platform/linux/wayland_desktop.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xdg_file_opener.h"
#include "platform/linux/xinput_key_monitor.h"
#include "platform/linux/xtest_key_synth.h"
#include "platform/platform.h"

#include <cstdlib>
#include <string>

namespace vak {

namespace {

DesktopChoice desktopChoice() {
    return chooseDesktopBackend(DesktopSession::current(processValues().cfg));
}

// A desktop session to show the interface in. The interface runs on X11 (under Wayland through
// XWayland, where the window manager keeps the pill above other windows and out of the focus)
// and natively on Wayland only without XWayland.
bool haveDisplay(const DesktopChoice& desktop) {
    const bool x11 = envValue(Env::Display).has_value();
    if (desktop.backend == DesktopBackend::X11 && !x11) {
        log(LogLevel::serious,
            "no X11 display (DISPLAY is not set) — vak-dictate needs an X11 or XWayland "
            "session");
        return false;
    }
    if (!x11 && !envValue(Env::WaylandDisplay)) {
        log(LogLevel::serious, "no display (neither WAYLAND_DISPLAY nor DISPLAY is set) — start "
                               "vak-dictate inside the desktop session");
        return false;
    }
    if (!envValue(Env::QtPlatform))
        ::setenv(std::string(envName(Env::QtPlatform)).c_str(), x11 ? "xcb" : "wayland", 1);
    log(LogLevel::info, "interface: Qt's " + envValueOr(Env::QtPlatform, "") + " platform — " +
                            (x11 ? "DISPLAY=" + envValueOr(Env::Display, "")
                                 : std::string("no XWayland (DISPLAY unset)")));
    return true;
}

} // namespace

bool prepareInterfaceDisplay() {
    return haveDisplay(desktopChoice());
}

void installPlatformBackends() {
    installAudioBackend(std::make_shared<PulseAudioBackend>());
    // The history key lives in the login keyring; nothing connects to it until it is needed.
    installSecretStore(makeLibsecretStore());
    // The X11 desktop services connect to the display on first use, so the command-line modes
    // that never use them never touch it. The Wayland ones wait for startDesktopBackends().
    if (desktopChoice().backend == DesktopBackend::X11) {
        installKeyMonitor(std::make_shared<XInputKeyMonitor>());
        installPasteboard(std::make_shared<QtPasteboard>());
        installPrimarySelection(std::make_shared<QtPasteboard>(QtPasteboard::Selection::Primary));
        installKeySynth(std::make_shared<XTestKeySynth>());
        installFrontmostApp(std::make_shared<X11FrontmostApp>());
    }
    installSoundPlayer(std::make_shared<PulseSoundPlayer>());
    installServiceControl(std::make_shared<SystemdServiceControl>(processValues().cliArgs));
    installFileOpener(std::make_shared<XdgFileOpener>());
    // Asks the desktop only when a shortcut is offered.
    installDesktopShortcuts(std::make_shared<GnomeShortcuts>());
}

void startDesktopBackends() {
    const DesktopChoice choice = desktopChoice();
    if (choice.backend == DesktopBackend::Wayland) {
        installWaylandDesktop(choice, processValues().cfg);
        return;
    }
    for (const char* service : {"key monitor: XInput2 raw events",
                                "synthetic paste and copy: XTest", "clipboard: Qt's X11 clipboard",
                                "frontmost application: the window manager's active "
                                "window"}) {
        log(LogLevel::info, std::string(service) + " — " + choice.why);
    }
}

} // namespace vak
