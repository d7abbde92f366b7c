#include "platform/linux/pulse_audio_backend.h"
#include "platform/linux/secret_store_libsecret.h"
#include "platform/platform.h"

namespace vak {

void installPlatformBackends() {
    installAudioBackend(std::make_shared<PulseAudioBackend>());
    // The history key lives in the login keyring; nothing connects to it until it is needed.
    setSecretStore(makeLibsecretStore());
}

} // namespace vak
