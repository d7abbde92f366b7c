#pragma once

#include "base/executor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vak {

// One input device as the sound system lists it.
struct AudioDeviceInfo {
    std::uint32_t id = 0; // the system's index for the device
    std::string uniqueId; // stable name, survives re-plugging
    std::string name;     // localized name shown to the user
    bool builtIn = false; // part of the machine (its own microphone, or its line input)
    int inputChannels = 0;
    // Says it is a microphone (its form factor, name or selected port), not a line input.
    bool microphone = false;

    bool operator==(const AudioDeviceInfo&) const = default;
};

enum class SampleFormat { Int16, Int32, Float32 };

// Interleaved samples in the device's native format, as delivered.
struct AudioBuffer {
    std::vector<std::uint8_t> bytes;
    SampleFormat format = SampleFormat::Int16;
    double sampleRate = 0;
    int channels = 0;

    std::size_t bytesPerSample() const { return format == SampleFormat::Int16 ? 2 : 4; }
    std::size_t bytesPerFrame() const {
        return bytesPerSample() * static_cast<std::size_t>(channels);
    }
    std::size_t frames() const { return bytesPerFrame() == 0 ? 0 : bytes.size() / bytesPerFrame(); }
};

// A running capture. Stopping is idempotent; after stop() returns nothing more is captured
// (buffers captured before it may still be on their way to the queue).
class AudioStream {
  public:
    virtual ~AudioStream() = default;
    virtual bool isRunning() const = 0;
    virtual void stop() = 0;
};

using BufferHandler = std::function<void(AudioBuffer)>;

// The sound system: device discovery and capture streams. Implementations: PulseAudio on Linux,
// CoreAudio on macOS, and a scripted fake for tests.
class AudioBackend {
  public:
    virtual ~AudioBackend() = default;

    // Input devices with at least one input channel (monitors of outputs excluded), in the
    // system's order. Empty when the sound system cannot be reached.
    virtual std::vector<AudioDeviceInfo> inputDevices() = 0;
    // The system's default input, when there is one.
    virtual std::optional<AudioDeviceInfo> defaultInputDevice() = 0;
    // True when the sound system answers (what stands for microphone permission here).
    virtual bool available() = 0;
    // Starts capturing from `device` in its native format; every buffer is handed to `onBuffer`
    // on `queue`. Nothing (and `error` set) when the device cannot be opened.
    virtual std::unique_ptr<AudioStream> openCapture(const AudioDeviceInfo& device, Executor& queue,
                                                     BufferHandler onBuffer,
                                                     std::string* error) = 0;
};

// The process's backend; the program installs the platform's at start, tests a fake. Callers
// keep the pointer while they use it, so installing another never pulls it from under them.
std::shared_ptr<AudioBackend> audioBackend();
void installAudioBackend(std::shared_ptr<AudioBackend> backend);

} // namespace vak
