#pragma once

#include "platform/audio_backend.h"

#include <chrono>
#include <map>
#include <mutex>

namespace vak {

// A scripted sound system for tests. Each device either fails to open, opens but stays silent,
// or feeds buffers from a generator at a fixed interval while open; tests can also push buffers
// to an open device by hand.
class FakeAudioBackend final : public AudioBackend {
  public:
    struct Device {
        Device(AudioDeviceInfo deviceInfo)
            : info(std::move(deviceInfo)) {} // NOLINT: implicit on purpose
        AudioDeviceInfo info;
        bool failsToOpen = false;
        // Produces the n-th buffer (n from 0) while the device is open; none means silence.
        std::function<AudioBuffer(std::size_t n)> feed;
        std::chrono::milliseconds interval{20};
    };

    FakeAudioBackend();
    ~FakeAudioBackend() override;

    void setDevices(std::vector<Device> devices);
    void setDefault(std::optional<std::string> uniqueId);
    void setAvailable(bool available);

    // Hands `buffer` to the open capture of the device; false when none is open.
    bool deliver(const std::string& uniqueId, AudioBuffer buffer);
    // Unique ids of every device opened so far, in order.
    std::vector<std::string> openHistory() const;
    bool isOpen(const std::string& uniqueId) const;

    std::vector<AudioDeviceInfo> inputDevices() override;
    std::optional<AudioDeviceInfo> defaultInputDevice() override;
    bool available() override;
    std::unique_ptr<AudioStream> openCapture(const AudioDeviceInfo& device, Executor& queue,
                                             BufferHandler onBuffer, std::string* error) override;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

// Buffers for tests: a sine of `frequency` Hz at `amplitude` (0…1) in the given format, with a
// running phase so consecutive buffers join smoothly.
AudioBuffer sineBuffer(SampleFormat format, double rate, int channels, std::size_t frames,
                       double frequency, double amplitude, std::size_t startFrame = 0);
AudioBuffer silentBuffer(SampleFormat format, double rate, int channels, std::size_t frames);

} // namespace vak
