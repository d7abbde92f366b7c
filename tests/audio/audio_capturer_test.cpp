#include "audio/audio_capturer.h"
#include "audio/wav.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "platform/fake/fake_audio_backend.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;

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

AudioDeviceInfo deviceInfo(const std::string& id, const std::string& name, bool builtIn,
                           int channels = 1) {
    return AudioDeviceInfo{0, id, name, builtIn, channels};
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
    // Starts on `preference`, noting levels, swaps and deaths.
    bool start(std::string_view preference) {
        capturer->setOnLevel([this](float level) { levels.push_back(level); });
        return capturer->start(
            path, preference, [this](const std::string& name) { swaps.push_back(name); },
            [this] { ++deaths; });
    }

    std::shared_ptr<FakeAudioBackend> fake = std::make_shared<FakeAudioBackend>();
    const AudioDeviceInfo builtIn = deviceInfo("mic", "Built-in Mic", true);
    RunLoopMainQueue main;
    std::shared_ptr<AudioCapturer> capturer = AudioCapturer::create(main, fake);
    test::TempDir dir;
    std::string path = dir.file("vak_rec_1.wav");
    std::vector<float> levels;
    std::vector<std::string> swaps;
    int deaths = 0;
};

TEST_F(CapturerTest, WritesAPrivateWavWhoseHeaderIsPatchedAtTheStop) {
    fake->setDevices({builtIn});
    ASSERT_TRUE(start("builtin"));
    EXPECT_EQ(capturer->deviceName(), "Built-in Mic");
    auto result = capturer->stop();
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_EQ(result.frames, 0u);
    EXPECT_EQ(result.device, "Built-in Mic");
    std::string wav = readFixture(path);
    ASSERT_EQ(wav.size(), 44u);
    EXPECT_EQ(u32At(wav, 4), 36u);
    EXPECT_EQ(u32At(wav, 40), 0u);
    EXPECT_EQ(filePermissions(path), 0600u);

    ASSERT_TRUE(start("builtin"));
    deliver("mic", int16Buffer(std::vector<std::int16_t>(160, 0)));
    deliver("mic", int16Buffer({1000, -1000, 500}));
    deliver("mic", int16Buffer({-32768, 7}));
    // While recording the header still says 0: readers go by what is on disk.
    EXPECT_EQ(u32At(readFixture(path), 40), 0u);
    result = capturer->stop();
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_EQ(levels[0], 0.0f);
    EXPECT_NEAR(levels[1], 0.563, 0.001);
    EXPECT_EQ(levels[2], 1.0f);
    EXPECT_EQ(result.frames, 165u);
    EXPECT_EQ(result.bytes, 330u);
    EXPECT_EQ(result.peak, 32767);
    wav = readFixture(path);
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
    const bool mounted = disk.mounted();
    struct Case {
        const char* what;
        std::string path;
        bool overflow;     // an overflow folder to take the recording
        const char* cause; // as the log and the pill say it
        bool needsSmallDisk;
        bool removedWhileRecording = false;
    };
    const Case cases[] = {
        {"a removed folder", dir.file("gone/vak_rec_1.wav"), true, "No such file or directory",
         false},
        {"a full disk", small + "/vak_rec_1.wav", true, "No space left on device", true},
        {"a full disk and nowhere else", small + "/vak_rec_2.wav", false, "No space left on device",
         true},
        {"a folder removed while recording", dir.file("cleaned/vak_rec_1.wav"), true,
         "the file was removed while recording", false, true},
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
        if (c.needsSmallDisk && !mounted) continue;
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
            EXPECT_EQ(result.bytes, spoken.size());
            EXPECT_EQ(readFixture(overflow), wavHeader(32000) + spoken);
            EXPECT_EQ(filePermissions(overflow), 0600u);
            EXPECT_FALSE(pathExists(c.path));
            removeFile(overflow);
        } else {
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
}

TEST_F(CapturerTest, PausedCaptureReportsSilenceAndWritesNothing) {
    fake->setDevices({builtIn});
    ASSERT_TRUE(start("builtin"));
    capturer->pauseCapture();
    EXPECT_TRUE(capturer->isPaused());
    deliver("mic", int16Buffer(std::vector<std::int16_t>(320, 20000)));
    deliver("mic", int16Buffer(std::vector<std::int16_t>(320, 20000)));
    EXPECT_EQ(readFixture(path).size(), 44u);
    capturer->resumeCapture();
    deliver("mic", int16Buffer(std::vector<std::int16_t>(320, 20000)));
    EXPECT_EQ(capturer->stop().frames, 320u);
    EXPECT_EQ(levels, (std::vector<float>{0.0f, 0.0f, 1.0f}));
}

TEST_F(CapturerTest, MixedFormatsAndManyChannelsStillGiveClean16kMono) {
    fake->setDevices({deviceInfo("usb", "USB Interface", false, 4)});
    ASSERT_TRUE(start("usb interface"));
    // Four channels: channel 0 carries a quiet tone, the others are loud; only channel 0 counts.
    AudioBuffer four = sineBuffer(SampleFormat::Float32, 48000, 4, 48000, 500, 0.25);
    const float loud = 0.9f;
    for (std::size_t f = 0; f < 48000; ++f) {
        for (std::size_t c = 1; c < 4; ++c)
            std::memcpy(four.bytes.data() + (f * 4 + c) * 4, &loud, 4);
    }
    deliver("usb", std::move(four));
    // The device changes format mid-recording: the converter must be rebuilt for it.
    deliver("usb", sineBuffer(SampleFormat::Int16, 44100, 1, 44100, 500, 0.25));
    const auto result = capturer->stop();
    EXPECT_NEAR(static_cast<double>(result.frames), 32000.0, 4.0);
    EXPECT_NEAR(result.peak, 0.25 * 32768, 400);
}

TEST_F(CapturerTest, ASilentDeviceIsSwappedForTheNextCandidate) {
    FakeAudioBackend::Device working{builtIn};
    working.feed = [](std::size_t n) {
        return sineBuffer(SampleFormat::Int16, 16000, 1, 320, 440, 0.3, n * 320);
    };
    fake->setDevices({deviceInfo("usb", "USB Mic", false), working});
    ASSERT_TRUE(start("usb"));
    pump(1.0);
    EXPECT_TRUE(swaps.empty());
    pump(0.8);
    EXPECT_EQ(swaps, std::vector<std::string>{"Built-in Mic"});
    pump(1.6);
    EXPECT_EQ(deaths, 0);
    const auto result = capturer->stop();
    EXPECT_GT(result.frames, 0u);
    EXPECT_EQ(result.device, "Built-in Mic");
    EXPECT_EQ(fake->openHistory(), (std::vector<std::string>{"usb", "mic"}));
}

TEST_F(CapturerTest, ASilentButFlowingDeviceIsSwappedWhenAnotherIsLeft) {
    // An unplugged line input: frames keep coming, all of them silent.
    FakeAudioBackend::Device lineIn{deviceInfo("line", "Line In", true)};
    lineIn.feed = [](std::size_t n) {
        return silentBuffer(SampleFormat::Int16, 16000, 1, n * 320);
    };
    FakeAudioBackend::Device working{builtIn};
    working.feed = [](std::size_t n) {
        return sineBuffer(SampleFormat::Int16, 16000, 1, 320, 440, 0.3, n * 320);
    };
    fake->setDevices({lineIn, working});
    ASSERT_TRUE(start("line in"));
    pump(1.8);
    EXPECT_EQ(swaps, std::vector<std::string>{"Built-in Mic"});
    EXPECT_EQ(capturer->stop().device, "Built-in Mic");
    // With nothing better to try it is reported like a dead one, and goes on recording.
    swaps.clear();
    fake->setDevices({lineIn});
    ASSERT_TRUE(start("line in"));
    pump(3.0);
    EXPECT_EQ(deaths, 1);
    const auto result = capturer->stop();
    EXPECT_EQ(result.device, "Line In");
    EXPECT_GT(result.frames, 0u);
}

TEST_F(CapturerTest, WhenEveryDeviceStaysSilentItReportsNoAudio) {
    fake->setDevices({deviceInfo("usb", "USB Mic", false), builtIn});
    // Only the built-in microphone is a candidate; the swap falls back to the built-in list.
    ASSERT_TRUE(start("builtin"));
    pump(1.6);
    EXPECT_EQ(swaps, std::vector<std::string>{"Built-in Mic"});
    EXPECT_EQ(deaths, 0);
    pump(1.4);
    EXPECT_EQ(deaths, 1);
    capturer->stop();
    pump(1.5);
    EXPECT_EQ(deaths, 1);
}

TEST_F(CapturerTest, StartTriesCandidatesInOrderAndFailsWhenNoneOpens) {
    FakeAudioBackend::Device broken{deviceInfo("usb", "USB Mic", false)};
    broken.failsToOpen = true;
    fake->setDevices({broken, builtIn});
    ASSERT_TRUE(start("usb"));
    EXPECT_EQ(capturer->deviceName(), "Built-in Mic");
    capturer->stop();
    // No built-in microphone to fall back on: the system's default input is tried.
    fake->setDevices({{deviceInfo("usb", "USB Mic", false)}});
    fake->setDefault("usb");
    ASSERT_TRUE(start("builtin"));
    EXPECT_EQ(capturer->deviceName(), "USB Mic");
    capturer->stop();

    FakeAudioBackend::Device brokenToo{builtIn};
    brokenToo.failsToOpen = true;
    fake->setDevices({broken, brokenToo});
    EXPECT_FALSE(AudioCapturer::create(main, fake)->start(path, "usb", nullptr, nullptr));
}

TEST_F(CapturerTest, AStoppedSessionsLateCheckDoesNotTouchTheNextOne) {
    fake->setDevices({builtIn});
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

TEST_F(CapturerTest, DiagnosticsStopAfterThreeLines) {
    setenv("VAK_CAPDEBUG", "1", 1);
    capturer = AudioCapturer::create(main, fake);
    unsetenv("VAK_CAPDEBUG");
    fake->setDevices({builtIn});
    const std::string logPath = processValues().LOG;
    const auto before = readFixture(logPath);
    ASSERT_TRUE(start("builtin"));
    for (int i = 0; i < 5; ++i)
        deliver("mic", sineBuffer(SampleFormat::Float32, 48000, 2, 480, 440, 0.2));
    capturer->stop();
    const std::string added = readFixture(logPath).substr(before.size());
    const std::string line = "] · capdebug cb: samples=480 paused=false rate=48000.0 ch=2 bits=32 "
                             "flags=9 bytesPerFrame=8\n";
    std::size_t count = 0;
    for (auto at = added.find(line); at != std::string::npos; at = added.find(line, at + 1))
        ++count;
    EXPECT_EQ(count, 3u);
}

} // namespace
} // namespace vak
