#pragma once

#include "platform/audio_backend.h"

#include <memory>

namespace vak {

struct PulseConnection;

// Audio devices and capture through a PulseAudio server (PipeWire answers as one too). Sources
// that monitor an output are left out; a source is the built-in microphone when its form factor
// is "internal" or it sits on the pci or platform bus. The device id is the source index, the
// unique id the source name. Streams record in the source's own rate and channel count.
class PulseAudioBackend final : public AudioBackend {
  public:
    PulseAudioBackend();
    ~PulseAudioBackend() override;

    std::vector<AudioDeviceInfo> inputDevices() override;
    std::optional<AudioDeviceInfo> defaultInputDevice() override;
    bool available() override;
    std::unique_ptr<AudioStream> openCapture(const AudioDeviceInfo& device, Executor& queue,
                                             BufferHandler onBuffer, std::string* error) override;

  private:
    std::shared_ptr<PulseConnection> connection_;
};

} // namespace vak
