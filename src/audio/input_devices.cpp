#include "audio/input_devices.h"

#include "base/unicode.h"

#include <algorithm>

namespace vak {

namespace {

InputDevice toInputDevice(const AudioDeviceInfo& device) {
    return InputDevice{device.id, device.name, device.builtIn};
}

} // namespace

std::vector<InputDevice> allInputDevices(AudioBackend& backend) {
    std::vector<InputDevice> out;
    for (const auto& device : backend.inputDevices()) {
        if (device.inputChannels > 0) out.push_back(toInputDevice(device));
    }
    return out;
}

std::vector<AudioDeviceInfo>
builtInCandidates(const std::vector<AudioDeviceInfo>& devices,
                  const std::optional<AudioDeviceInfo>& defaultDevice) {
    std::vector<AudioDeviceInfo> ranked;
    const auto add = [&ranked](const AudioDeviceInfo& device) {
        if (std::none_of(ranked.begin(), ranked.end(),
                         [&](const AudioDeviceInfo& d) { return d.uniqueId == device.uniqueId; })) {
            ranked.push_back(device);
        }
    };
    const AudioDeviceInfo* chosenDefault = nullptr;
    if (defaultDevice) {
        for (const auto& device : devices) {
            if (device.uniqueId == defaultDevice->uniqueId && device.builtIn)
                chosenDefault = &device;
        }
    }
    // The default first when it is a built-in microphone: the user (or the desktop) picked it.
    if (chosenDefault != nullptr && chosenDefault->microphone) add(*chosenDefault);
    for (const auto& device : devices) {
        if (device.builtIn && device.microphone) add(device);
    }
    // Then line inputs, which deliver sound only when something is plugged in.
    if (chosenDefault != nullptr) add(*chosenDefault);
    for (const auto& device : devices) {
        if (device.builtIn) add(device);
    }
    return ranked;
}

std::vector<AudioDeviceInfo> resolveCandidates(const std::vector<AudioDeviceInfo>& devices,
                                               const std::optional<AudioDeviceInfo>& defaultDevice,
                                               std::string_view preference) {
    const std::string p = toLower(trim(preference));
    std::vector<AudioDeviceInfo> list;
    if (p == "builtin" || p == "built-in" || p.empty()) {
        // the built-in devices alone, appended below
    } else if (p == "default" || p == "system") {
        if (defaultDevice) {
            for (const auto& device : devices) {
                if (device.uniqueId == defaultDevice->uniqueId) {
                    list.push_back(device);
                    break;
                }
            }
        }
    } else {
        for (const auto& device : devices) {
            if (toLower(device.name).find(p) != std::string::npos) {
                list.push_back(device);
                break;
            }
        }
    }
    for (const auto& device : builtInCandidates(devices, defaultDevice)) {
        if (std::none_of(list.begin(), list.end(),
                         [&](const AudioDeviceInfo& d) { return d.uniqueId == device.uniqueId; })) {
            list.push_back(device);
        }
    }
    return list;
}

std::vector<AudioDeviceInfo> resolveAVDevices(AudioBackend& backend, std::string_view preference) {
    std::vector<AudioDeviceInfo> devices;
    for (auto& device : backend.inputDevices()) {
        if (device.inputChannels > 0) devices.push_back(std::move(device));
    }
    return resolveCandidates(devices, backend.defaultInputDevice(), preference);
}

std::vector<InputDevice> resolveInputCandidates(AudioBackend& backend,
                                                std::string_view preference) {
    std::vector<InputDevice> out;
    for (const auto& device : resolveAVDevices(backend, preference))
        out.push_back(toInputDevice(device));
    return out;
}

} // namespace vak
