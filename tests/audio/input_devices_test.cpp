#include "audio/input_devices.h"
#include "platform/fake/fake_audio_backend.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

AudioDeviceInfo device(std::uint32_t id, std::string name, bool builtIn, int channels = 1) {
    return AudioDeviceInfo{id, "uid-" + std::to_string(id), std::move(name), builtIn, channels};
}

std::vector<std::string> names(const std::vector<AudioDeviceInfo>& list) {
    std::vector<std::string> out;
    for (const auto& d : list)
        out.push_back(d.name);
    return out;
}

// A preference is trimmed and case-blind; a substring picks the first match in system order;
// the built-in microphones follow (before any built-in line input), each device once.
TEST(InputPreference, ResolvesToTheDevicesToTryInOrder) {
    const auto mic = [](std::uint32_t id, std::string name, bool builtIn, bool microphone) {
        AudioDeviceInfo d = device(id, std::move(name), builtIn);
        d.microphone = microphone;
        return d;
    };
    const auto lineIn = mic(1, "Built-in Audio Analog Stereo", true, false);
    const auto internal = mic(2, "Internal Microphone", true, true);
    const auto frontMic = mic(3, "Front Microphone", true, true);
    const auto usb = mic(4, "USB Headset", false, true);
    const auto airpods = mic(5, "Ann's AirPods Pro", false, true);
    const auto adapter = mic(6, "USB AirPods Adapter", false, true);
    const std::vector<AudioDeviceInfo> devices = {lineIn,   internal, usb,
                                                  frontMic, airpods,  adapter};
    const std::vector<AudioDeviceInfo> external = {airpods};
    const std::vector<std::string> builtIns = {internal.name, frontMic.name, lineIn.name};
    struct Case {
        const std::vector<AudioDeviceInfo>& devices;
        std::optional<AudioDeviceInfo> defaultDevice;
        std::string preference;
        std::vector<std::string> first; // before the built-in ones
        bool builtInsFollow = true;
    };
    const Case cases[] = {
        {devices, airpods, "  Built-In \n", {}},
        {devices, airpods, "", {}},
        {devices, lineIn, "builtin", {}}, // a line input as the default does not come first
        {devices, frontMic, "builtin", {frontMic.name, internal.name, lineIn.name}, false},
        {devices, std::nullopt, "airpods", {airpods.name}},
        {devices, std::nullopt, "headset", {usb.name}},
        {devices, std::nullopt, "webcam", {}},
        {devices, usb, "SYSTEM", {usb.name}},
        {devices, usb, "default", {usb.name}},
        {devices, frontMic, "default", {frontMic.name, internal.name, lineIn.name}, false},
        {devices, std::nullopt, "default", {}},
        // Without a built-in microphone nothing is appended.
        {external, std::nullopt, "builtin", {}, false},
        {external, airpods, "default", {airpods.name}, false},
    };
    for (const auto& c : cases) {
        auto expected = c.first;
        if (c.builtInsFollow) expected.insert(expected.end(), builtIns.begin(), builtIns.end());
        EXPECT_EQ(names(resolveCandidates(c.devices, c.defaultDevice, c.preference)), expected)
            << c.preference << " (" << c.devices.size() << " devices)";
    }
}

TEST(InputPreference, ListsOnlyDevicesWithInputsFromTheInstalledBackend) {
    auto fake = std::make_shared<FakeAudioBackend>();
    fake->setDevices({{device(7, "Speakers", false, 0)},
                      {device(8, "Built-in Mic", true, 2)},
                      {device(9, "Webcam", false, 1)}});
    fake->setDefault("uid-9");
    EXPECT_EQ(allInputDevices(*fake),
              (std::vector<InputDevice>{{8, "Built-in Mic", true}, {9, "Webcam", false}}));
    EXPECT_EQ(resolveInputCandidates(*fake, "default"),
              (std::vector<InputDevice>{{9, "Webcam", false}, {8, "Built-in Mic", true}}));
}

} // namespace
} // namespace vak
