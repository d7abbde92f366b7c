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

TEST(InputPreference, ResolvesToTheDevicesToTryInOrder) {
    const auto builtIn = device(1, "MacBook Pro Microphone", true);
    const auto airpods = device(2, "Ann's AirPods Pro", false);
    const auto usb = device(3, "USB AirPods Adapter", false);
    const std::vector<AudioDeviceInfo> devices = {builtIn, airpods, usb};
    using Names = std::vector<std::string>;

    EXPECT_EQ(names(resolveCandidates(devices, airpods, "  Built-In \n")), Names{builtIn.name});
    EXPECT_EQ(names(resolveCandidates(devices, airpods, "")), Names{builtIn.name});
    // A substring picks the first match in system order, then the built-in one.
    EXPECT_EQ(names(resolveCandidates(devices, std::nullopt, "airpods")),
              (Names{airpods.name, builtIn.name}));
    EXPECT_EQ(names(resolveCandidates(devices, std::nullopt, "headset")), Names{builtIn.name});
    EXPECT_EQ(names(resolveCandidates(devices, usb, "SYSTEM")), (Names{usb.name, builtIn.name}));
    // The default being the built-in microphone lists it once.
    EXPECT_EQ(names(resolveCandidates(devices, builtIn, "default")), Names{builtIn.name});
    EXPECT_EQ(names(resolveCandidates(devices, std::nullopt, "default")), Names{builtIn.name});
    // Without a built-in microphone nothing is appended.
    const std::vector<AudioDeviceInfo> external = {airpods};
    EXPECT_TRUE(resolveCandidates(external, std::nullopt, "builtin").empty());
    EXPECT_EQ(names(resolveCandidates(external, airpods, "default")), Names{airpods.name});
}

TEST(InputPreference, BuiltInMeansAMicrophoneBeforeAnyLineInput) {
    const auto mic = [](std::uint32_t id, std::string name, bool builtIn, bool microphone) {
        AudioDeviceInfo d = device(id, std::move(name), builtIn);
        d.microphone = microphone;
        return d;
    };
    const auto lineIn = mic(1, "Built-in Audio Analog Stereo", true, false);
    const auto internal = mic(2, "Internal Microphone", true, true);
    const auto frontMic = mic(3, "Front Microphone", true, true);
    const auto usb = mic(4, "USB Headset", false, true);
    const std::vector<AudioDeviceInfo> devices = {lineIn, internal, usb, frontMic};
    using Names = std::vector<std::string>;
    struct Case {
        const char* what;
        std::optional<AudioDeviceInfo> defaultDevice;
        std::string preference;
        Names expected;
    };
    for (const Case& c : {
             Case{"a line input is the default",
                  lineIn,
                  "builtin",
                  {internal.name, frontMic.name, lineIn.name}},
             Case{"a built-in microphone is the default",
                  frontMic,
                  "builtin",
                  {frontMic.name, internal.name, lineIn.name}},
             Case{"an outside default does not count",
                  usb,
                  "builtin",
                  {internal.name, frontMic.name, lineIn.name}},
             Case{"after the default, the same order",
                  usb,
                  "default",
                  {usb.name, internal.name, frontMic.name, lineIn.name}},
         }) {
        EXPECT_EQ(names(resolveCandidates(devices, c.defaultDevice, c.preference)), c.expected)
            << c.what;
    }
}

TEST(InputPreference, ListsOnlyDevicesWithInputsFromTheInstalledBackend) {
    auto fake = std::make_shared<FakeAudioBackend>();
    fake->setDevices({{device(7, "Speakers", false, 0)},
                      {device(8, "Built-in Mic", true, 2)},
                      {device(9, "Webcam", false, 1)}});
    fake->setDefault("uid-9");
    installAudioBackend(fake);
    EXPECT_EQ(allInputDevices(),
              (std::vector<InputDevice>{{8, "Built-in Mic", true}, {9, "Webcam", false}}));
    EXPECT_EQ(resolveInputCandidates("default"),
              (std::vector<InputDevice>{{9, "Webcam", false}, {8, "Built-in Mic", true}}));
    installAudioBackend(nullptr);
}

} // namespace
} // namespace vak
