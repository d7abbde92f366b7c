#include "foundation/process_values.h"
#include "platform/linux/pulse_audio_backend.h"
#include "platform/linux/pulse_sound_player.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/secret_store_libsecret.h"
#include "platform/linux/systemd_service_control.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xdg_file_opener.h"
#include "platform/linux/xinput_key_monitor.h"
#include "platform/linux/xtest_key_synth.h"
#include "platform/platform.h"

namespace vak {

void installPlatformBackends() {
    installAudioBackend(std::make_shared<PulseAudioBackend>());
    // The history key lives in the login keyring; nothing connects to it until it is needed.
    setSecretStore(makeLibsecretStore());
    // The desktop services connect to the display and the sound server on first use, so the
    // command-line modes that never use them never touch either.
    installKeyMonitor(std::make_shared<XInputKeyMonitor>());
    installPasteboard(std::make_shared<QtPasteboard>());
    installPrimarySelection(std::make_shared<QtPasteboard>(QtPasteboard::Selection::Primary));
    installKeySynth(std::make_shared<XTestKeySynth>());
    installFrontmostApp(std::make_shared<X11FrontmostApp>());
    installSoundPlayer(std::make_shared<PulseSoundPlayer>());
    installServiceControl(std::make_shared<SystemdServiceControl>(processValues().cliArgs));
    installFileOpener(std::make_shared<XdgFileOpener>());
}

} // namespace vak
