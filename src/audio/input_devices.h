#pragma once

#include "platform/audio_backend.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

struct InputDevice {
    std::uint32_t id = 0;
    std::string name;
    bool builtIn = false;

    bool operator==(const InputDevice&) const = default;
};

// Every device of `backend` with at least one input channel, in the system's order.
std::vector<InputDevice> allInputDevices(AudioBackend& backend);

// The devices to try for an INPUT_DEVICE preference, in order: "builtin" (or "built-in", or
// empty) the built-in devices only (builtInCandidates); "default" or "system" the system
// default, then the built-in ones; anything else the first device whose name contains it
// (case-insensitive), then the built-in ones. A device is never listed twice. The capturer
// moves down the list while a device delivers nothing or only silence.
std::vector<InputDevice> resolveInputCandidates(AudioBackend& backend, std::string_view preference);
// The same list as capture devices.
std::vector<AudioDeviceInfo> resolveAVDevices(AudioBackend& backend, std::string_view preference);

// The machine's own inputs, the likeliest to carry the user's voice first: the default device
// when it is a built-in microphone, the other built-in microphones, then the built-in line
// inputs (the default among them first).
std::vector<AudioDeviceInfo> builtInCandidates(const std::vector<AudioDeviceInfo>& devices,
                                               const std::optional<AudioDeviceInfo>& defaultDevice);

// The rule behind both, on a given device list and default device.
std::vector<AudioDeviceInfo> resolveCandidates(const std::vector<AudioDeviceInfo>& devices,
                                               const std::optional<AudioDeviceInfo>& defaultDevice,
                                               std::string_view preference);

// Counts the frames a bare capture delivers (the --av-test check).
struct AVTestCounter {
    std::atomic<std::uint64_t> frames{0};
    void count(const AudioBuffer& buffer) { frames += buffer.frames(); }
};

} // namespace vak
