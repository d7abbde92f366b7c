#include "platform/linux/pulse_audio_backend.h"
#include "platform/platform.h"

namespace vak {

void installPlatformBackends() {
    installAudioBackend(std::make_shared<PulseAudioBackend>());
}

} // namespace vak
