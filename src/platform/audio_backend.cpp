#include "platform/audio_backend.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a backend is installed: no devices, nothing opens.
class NoAudioBackend final : public AudioBackend {
  public:
    std::vector<AudioDeviceInfo> inputDevices() override { return {}; }
    std::optional<AudioDeviceInfo> defaultInputDevice() override { return std::nullopt; }
    bool available() override { return false; }
    std::unique_ptr<AudioStream> openCapture(const AudioDeviceInfo&, Executor&, BufferHandler,
                                             std::string* error) override {
        if (error != nullptr) *error = "no audio backend";
        return nullptr;
    }
};

} // namespace

std::shared_ptr<AudioBackend> audioBackend() {
    return serviceSlot<AudioBackend, NoAudioBackend>().get();
}

void installAudioBackend(std::shared_ptr<AudioBackend> backend) {
    serviceSlot<AudioBackend, NoAudioBackend>().set(std::move(backend));
}

} // namespace vak
