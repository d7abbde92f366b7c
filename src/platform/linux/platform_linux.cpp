#include "base/log.h"
#include "foundation/process_values.h"
#include "platform/desktop_backend.h"
#include "platform/desktop_shortcut.h"
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

namespace vak {

namespace {

DesktopChoice desktopChoice() {
    return chooseDesktopBackend(DesktopSession::current(processValues().cfg));
}

} // namespace

void installPlatformBackends() {
    installAudioBackend(std::make_shared<PulseAudioBackend>());
    // The history key lives in the login keyring; nothing connects to it until it is needed.
    setSecretStore(makeLibsecretStore());
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
        installWaylandDesktop(choice);
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
