#include "platform/audio_backend.h"

#include <mutex>

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

std::mutex backendMutex;
// Never destroyed: capture threads may still reach it while the process exits.
std::shared_ptr<AudioBackend>* installed = new std::shared_ptr<AudioBackend>();

} // namespace

std::shared_ptr<AudioBackend> audioBackend() {
    std::lock_guard lock(backendMutex);
    if (!*installed) *installed = std::make_shared<NoAudioBackend>();
    return *installed;
}

void installAudioBackend(std::shared_ptr<AudioBackend> backend) {
    std::lock_guard lock(backendMutex);
    *installed = std::move(backend);
}

} // namespace vak
