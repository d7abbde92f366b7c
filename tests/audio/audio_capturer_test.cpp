#include "audio/audio_capturer.h"
#include "audio/wav.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "platform/fake/fake_audio_backend.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using Device = FakeAudioBackend::Device;

std::uint32_t u32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4); // little-endian, like the machines we run on
    return value;
}

AudioBuffer int16Buffer(std::vector<std::int16_t> samples) {
    AudioBuffer buffer = silentBuffer(SampleFormat::Int16, 16000, 1, samples.size());
    std::memcpy(buffer.bytes.data(), samples.data(), buffer.bytes.size());
    return buffer;
}

Device device(const std::string& id, const std::string& name, bool builtIn) {
    return Device(AudioDeviceInfo{0, id, name, builtIn, 1});
}

// A device that delivers a tone, or (`level` 0) frames of silence.
Device feeding(Device device, double level) {
    device.feed = [level](std::size_t n) {
        return level > 0 ? sineBuffer(SampleFormat::Int16, 16000, 1, 320, 440, level, n * 320)
                         : silentBuffer(SampleFormat::Int16, 16000, 1, 320);
    };
    return device;
}

class CapturerTest : public testing::Test {
  protected:
    // Runs the main queue (where levels, swaps and deaths are reported) for a while.
    void pump(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end)
            main.runFor(0.02);
    }
    // Delivers and waits until the capture and writer queues have handled it.
    void deliver(const std::string& id, AudioBuffer buffer) {
        ASSERT_TRUE(fake->deliver(id, std::move(buffer)));
        pump(0.05);
    }
    bool start(std::string_view preference) {
        capturer->setOnLevel([this](float level) { levels.push_back(level); });
        return capturer->start(
            path, preference, [this](const std::string& name) { swaps.push_back(name); },
            [this] { ++deaths; });
    }

    std::shared_ptr<FakeAudioBackend> fake = std::make_shared<FakeAudioBackend>();
    const Device builtIn = device("mic", "Built-in Mic", true);
    RunLoopMainQueue main;
    std::shared_ptr<AudioCapturer> capturer = AudioCapturer::create(main, fake);
    test::TempDir dir;
    std::string path = dir.file("vak_rec_1.wav");
    std::vector<float> levels;
    std::vector<std::string> swaps;
    int deaths = 0;
};

// While recording the header says 0: readers go by what is on disk. A paused capture reports
// silence and writes nothing.
TEST_F(CapturerTest, WritesAPrivateWavWhoseHeaderIsPatchedAtTheStop) {
    fake->setDevices({builtIn});
    ASSERT_TRUE(start("builtin"));
    deliver("mic", int16Buffer(std::vector<std::int16_t>(160, 0)));
    deliver("mic", int16Buffer({1000, -1000, 500}));
    deliver("mic", int16Buffer({-32768, 7}));
    capturer->pauseCapture();
    deliver("mic", int16Buffer(std::vector<std::int16_t>(320, 20000)));
    capturer->resumeCapture();
    EXPECT_EQ(u32At(readFixture(path), 40), 0u);
    EXPECT_EQ(filePermissions(path), 0600u);
    const auto result = capturer->stop();
    ASSERT_EQ(levels.size(), 4u);
    EXPECT_NEAR(levels[1], 0.563, 0.001);
    EXPECT_EQ(levels, (std::vector<float>{0, levels[1], 1, 0}));
    EXPECT_EQ(result.frames, 165u);
    EXPECT_EQ(result.bytes, 330u);
    EXPECT_EQ(result.peak, 32767);
    const std::string wav = readFixture(path);
    ASSERT_EQ(wav.size(), 44u + 330);
    EXPECT_EQ(u32At(wav, 4), 366u);
    EXPECT_EQ(u32At(wav, 40), 330u);
    EXPECT_EQ(wav.substr(44 + 320), le16(1000) + le16(0xFC18) + le16(500) + le16(0x8000) + le16(7));
}

TEST_F(CapturerTest, AFailedWriteIsSaidOnceAndTheWholeRecordingGoesToTheOverflowFolder) {
    fake->setDevices({builtIn});
    // A file system with room for a quarter of a second (as root: a tmpfs of 8 KB).
    const std::string small = dir.file("small");
    const test::SmallFileSystem disk(small, 8 * 1024);
    struct Case {
        const char* what;
        std::string path;
        bool overflow;     // an overflow folder to take the recording
        const char* cause; // as the log and the pill say it
        bool removedWhileRecording = false;
    };
    const Case cases[] = {
        {"a removed folder", dir.file("gone/vak_rec_1.wav"), true, "No such file or directory"},
        {"a full disk", small + "/vak_rec_1.wav", true, "No space left on device"},
        {"a full disk and nowhere else", small + "/vak_rec_2.wav", false,
         "No space left on device"},
        {"a folder removed while recording", dir.file("cleaned/vak_rec_1.wav"), true,
         "the file was removed while recording", true},
    };
    // One second of audio in ten buffers, every sample telling where it belongs.
    std::string spoken;
    std::vector<AudioBuffer> buffers;
    for (int b = 0; b < 10; ++b) {
        std::vector<std::int16_t> samples(1600);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(b * 1600 + static_cast<int>(i));
        spoken += std::string(reinterpret_cast<const char*>(samples.data()), 3200);
        buffers.push_back(int16Buffer(std::move(samples)));
    }
    const std::string overflow = dir.file("overflow/vak_rec_1.wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path.starts_with(small) && !disk.mounted()) continue;
        test::LogCapture log;
        std::vector<std::string> told;
        if (c.removedWhileRecording) std::filesystem::create_directory(dir.file("cleaned"));
        ASSERT_TRUE(capturer->start(
            c.path, "builtin", [](const std::string&) {}, [] {}, c.overflow ? overflow : "",
            [&told](const std::string& cause) { told.push_back(cause); }));
        for (const AudioBuffer& buffer : buffers) {
            deliver("mic", buffer);
            if (c.removedWhileRecording && &buffer == &buffers[4])
                std::filesystem::remove_all(dir.file("cleaned"));
        }
        const auto result = capturer->stop();
        pump(0.05);
        EXPECT_EQ(told, std::vector<std::string>{c.cause});
        EXPECT_EQ(log.messages().front(),
                  "‼️ recording: writing " + c.path + ": " + c.cause +
                      (c.overflow ? " — holding the audio in memory" : " — the rest is lost"));
        if (c.overflow) {
            // All of it, in order, and nothing left in the folder that failed.
            EXPECT_EQ(result.path, overflow);
            EXPECT_EQ(readFixture(overflow), wavHeader(32000) + spoken);
            EXPECT_EQ(filePermissions(overflow), 0600u);
            EXPECT_FALSE(pathExists(c.path));
            removeFile(overflow);
            continue;
        }
        // What fitted, whole buffers only, under a header that says so.
        EXPECT_EQ(result.path, c.path);
        const std::string kept = readFixture(c.path);
        ASSERT_GE(kept.size(), 44u);
        EXPECT_EQ(result.bytes, kept.size() - 44);
        EXPECT_EQ(result.bytes % 3200, 0u);
        EXPECT_EQ(u32At(kept, 40), result.bytes);
        EXPECT_EQ(kept.substr(44), spoken.substr(0, result.bytes));
    }
}

// A device that delivers nothing, or only silence, is swapped for the next candidate; with
// nothing better left it is reported dead and goes on recording.
TEST_F(CapturerTest, ASilentDeviceIsSwappedOrReported) {
    const Device working = feeding(builtIn, 0.3);
    const Device lineIn = feeding(device("line", "Line In", true), 0);
    const Device usb = device("usb", "USB Mic", false);
    struct Case {
        const char* what;
        std::vector<Device> devices;
        const char* preference;
        std::vector<std::string> swaps;
        int deaths;
        const char* recordedFrom;
        bool audio;
    };
    const Case cases[] = {
        {"delivers silence",
         {lineIn, working},
         "line in",
         {"Built-in Mic"},
         0,
         "Built-in Mic",
         true},
        {"nothing else to try", {lineIn}, "line in", {"Line In"}, 1, "Line In", true},
        {"every device silent",
         {usb, builtIn},
         "builtin",
         {"Built-in Mic"},
         1,
         "Built-in Mic",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        swaps.clear();
        deaths = 0;
        fake->setDevices(c.devices);
        ASSERT_TRUE(start(c.preference));
        pump(1.0);
        EXPECT_TRUE(swaps.empty());
        pump(2.0);
        EXPECT_EQ(swaps, c.swaps);
        EXPECT_EQ(deaths, c.deaths);
        const auto result = capturer->stop();
        EXPECT_EQ(result.device, c.recordedFrom);
        EXPECT_EQ(result.frames > 0, c.audio);
    }
}

TEST_F(CapturerTest, StartTriesCandidatesInOrderAndFailsWhenNoneOpens) {
    Device broken = device("usb", "USB Mic", false);
    broken.failsToOpen = true;
    fake->setDevices({broken, builtIn});
    ASSERT_TRUE(start("usb"));
    EXPECT_EQ(capturer->deviceName(), "Built-in Mic");
    capturer->stop();
    // No built-in microphone to fall back on: the system's default input is tried.
    fake->setDevices({device("usb", "USB Mic", false)});
    fake->setDefault("usb");
    ASSERT_TRUE(start("builtin"));
    EXPECT_EQ(capturer->deviceName(), "USB Mic");
    capturer->stop();

    Device brokenToo = builtIn;
    brokenToo.failsToOpen = true;
    fake->setDevices({broken, brokenToo});
    EXPECT_FALSE(AudioCapturer::create(main, fake)->start(path, "usb", nullptr, nullptr));
}

// A silence check that came due just before the stop acts neither on the stopped session nor on
// the next one.
TEST_F(CapturerTest, AStoppedSessionsLateCheckDoesNotTouchTheNextOne) {
    fake->setDevices({builtIn});
    ASSERT_TRUE(start("builtin"));
    // The check runs on the writer's queue at 1.3 s; the swap it asks for waits for the main one.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    capturer->stop();
    pump(0.2);
    ASSERT_TRUE(start("builtin"));
    pump(0.8);
    capturer->stop();
    // A new session starts 0.8 s into the old one's silence window and gets audio at once.
    ASSERT_TRUE(start("builtin"));
    deliver("mic", int16Buffer(std::vector<std::int16_t>(160, 100)));
    pump(1.0);
    EXPECT_TRUE(swaps.empty());
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(capturer->stop().frames, 160u);
}

} // namespace
} // namespace vak
