// The capture path and the sounds against a real PulseAudio server that the test starts itself.
#include "audio/audio_capturer.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "base/time_util.h"
#include "platform/linux/pulse_audio_backend.h"
#include "platform/linux/pulse_sound_player.h"
#include "support/pulse_server.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace vak {
namespace {

// A rising tone (200 Hz to 3 kHz over the clip) at 0.4 of full scale, sampled at `rate`: it has
// one clear alignment against itself, unlike a steady tone.
std::vector<double> chirp(double rate, double seconds) {
    std::vector<double> out(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        out[i] = 0.4 * std::sin(2 * M_PI * (200 * t + 2800 * t * t / (2 * seconds)));
    }
    return out;
}

// Best normalised cross-correlation of `recorded` against `reference`, over shifts near where the
// recording first gets loud (the tone starts at once, so that is about where it begins).
double bestCorrelation(const std::vector<std::int16_t>& recorded,
                       const std::vector<double>& reference) {
    const long size = static_cast<long>(recorded.size());
    long onset = 0;
    while (onset < size && std::abs(recorded[static_cast<std::size_t>(onset)]) < 1000)
        ++onset;
    double best = 0;
    for (long lag = onset - 100; lag <= onset + 100; ++lag) {
        double dot = 0;
        double a2 = 0;
        double b2 = 0;
        for (std::size_t i = 0; i < reference.size(); ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= size) continue;
            const double a = recorded[static_cast<std::size_t>(j)];
            dot += a * reference[i];
            a2 += a * a;
            b2 += reference[i] * reference[i];
        }
        if (a2 > 0 && b2 > 0) best = std::max(best, dot / std::sqrt(a2 * b2));
    }
    return best;
}

class PulseAudioTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { server = new test::PulseServer(); }
    static void TearDownTestSuite() {
        installAudioBackend(nullptr);
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server->running()) GTEST_SKIP() << "no PulseAudio server here: " << server->why();
        installAudioBackend(std::make_shared<PulseAudioBackend>());
    }
    void pump(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end)
            main.runFor(0.02);
    }
    RunLoopMainQueue main;
    static inline test::PulseServer* server = nullptr;
    test::TempDir dir;
};

TEST_F(PulseAudioTest, ListsSourcesButNotMonitorsAndRecordsWhatTheMicrophoneHearsAt16k) {
    const auto devices = audioBackend()->inputDevices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].uniqueId, "vak_pipe");
    EXPECT_EQ(devices[0].name, "Test Pipe Mic");
    EXPECT_FALSE(devices[0].builtIn);
    EXPECT_EQ(devices[0].inputChannels, 1);
    // A built-in microphone by its form factor; a line input by its bus, not a microphone.
    EXPECT_EQ(devices[1].uniqueId, "vak_silent");
    EXPECT_TRUE(devices[1].builtIn && devices[1].microphone);
    EXPECT_EQ(devices[2].uniqueId, "vak_linein");
    EXPECT_TRUE(devices[2].builtIn && !devices[2].microphone);
    const auto fallback = audioBackend()->defaultInputDevice();
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->uniqueId, "vak_pipe");

    // What the pipe hears, recorded at 16 kHz.
    const double seconds = 2.0;
    const auto source = chirp(48000, seconds);
    std::vector<std::int16_t> pcm(source.size());
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(std::lround(source[i] * 32767));

    auto capturer = AudioCapturer::create(main, audioBackend());
    const std::string path = dir.file("vak_rec_7.wav");
    ASSERT_TRUE(capturer->start(path, "test pipe", nullptr, nullptr));
    EXPECT_EQ(capturer->deviceName(), "Test Pipe Mic");
    server->feed(pcm);
    server->waitFed();
    pump(0.3);
    const auto result = capturer->stop();

    EXPECT_GT(result.frames, 30000u);
    EXPECT_NEAR(result.peak, 0.4 * 32767, 0.05 * 32767);
    const std::string wav = test::readFixture(path);
    std::vector<std::int16_t> recorded((wav.size() - 44) / 2);
    std::memcpy(recorded.data(), wav.data() + 44, recorded.size() * 2);
    EXPECT_EQ(recorded.size(), result.frames);
    EXPECT_GE(bestCorrelation(recorded, chirp(16000, seconds)), 0.99);
}

// The built-in microphone never delivers; the line input after it delivers silence only.
TEST_F(PulseAudioTest, SourcesThatNeverDeliverOrDeliverSilenceAreSwappedThenReportedDead) {
    auto capturer = AudioCapturer::create(main, audioBackend());
    std::vector<std::string> swaps;
    int deaths = 0;
    ASSERT_TRUE(capturer->start(
        dir.file("vak_rec_8.wav"), "builtin",
        [&](const std::string& name) { swaps.push_back(name); }, [&] { ++deaths; }));
    EXPECT_EQ(capturer->deviceName(), "Test Builtin Mic");
    pump(1.6);
    EXPECT_EQ(swaps, std::vector<std::string>{"Test Line In"});
    pump(1.4);
    EXPECT_EQ(deaths, 1);
    const auto result = capturer->stop();
    EXPECT_GT(result.frames, 0u);
    EXPECT_EQ(result.peak, 0);
}

// The built program's checks, with the pipe source fed: a voice, and a quiet but working
// microphone (a peak under 80, but not the silence of a dead input, which would be swapped out).
TEST_F(PulseAudioTest, TheProgramsCaptureChecks) {
    std::vector<std::int16_t> voice(48000 * 5 / 2); // all of it fits in a 3 s window
    for (std::size_t i = 0; i < voice.size(); ++i)
        voice[i] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 220 * double(i) / 48000));
    const std::string quiet =
        "RESULT: ⚠️ frames flowed but near-silent — speak louder / check input level\n";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::int16_t> microphone;
        std::vector<std::string> said;
        bool nearSilent = false;
    };
    const std::vector<Case> cases = {
        {{"--mic-check", "test pipe"},
         voice,
         {"device=Test Pipe Mic  frames=", "RESULT: ✓ capture path works\n"}},
        {{"--mic-check", "test pipe"},
         std::vector<std::int16_t>(voice.size(), 40),
         {"device=Test Pipe Mic  frames=", "RESULT: ✓ capture path works\n"},
         true},
    };
    makeDirectories(dir.file(".dictation"));
    test::writeFixture(dir.file(".dictation/config"), "CLOUD=0\n");
    test::BinaryOptions options;
    options.env = {{"HOME", dir.path()},
                   {"PULSE_SERVER", server->serverAddress()},
                   {"VAK_TMPDIR", dir.path()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        server->feed(c.microphone);
        const auto run = test::runVak(c.args, options);
        server->waitFed();
        EXPECT_EQ(run.exitCode, 0) << run.err;
        for (const std::string& words : c.said)
            EXPECT_NE(run.out.find(words), std::string::npos) << words << " in:\n" << run.out;
        EXPECT_EQ(run.out.find(quiet) != std::string::npos, c.nearSilent) << run.out;
    }
}

// The sounds play out without the caller waiting (they overlap); with no server, silence.
TEST_F(PulseAudioTest, EverySoundPlaysOutWithoutTheCallerWaiting) {
    for (const bool reachable : {true, false}) {
        SCOPED_TRACE(reachable ? "a server" : "no server");
        if (!reachable) ::setenv("PULSE_SERVER", "unix:/nonexistent/vak-no-server", 1);
        PulseSoundPlayer player;
        const auto start = SteadyClock::now();
        for (const Sound sound : kSounds)
            player.play(sound);
        EXPECT_LT(secondsSince(start), 0.1);
        EXPECT_TRUE(player.waitIdle(10));
    }
    ::setenv("PULSE_SERVER", server->serverAddress().c_str(), 1);
}

} // namespace
} // namespace vak
