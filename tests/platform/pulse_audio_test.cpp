// The capture path and the sounds against a real PulseAudio server that the test starts itself.
#include "audio/audio_capturer.h"
#include "audio/input_devices.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "base/regex.h"
#include "base/serial_queue.h"
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

using test::readFixture;
using test::TempDir;

// A rising tone (200 Hz to 3 kHz over the clip) at 0.4 of full scale, sampled at `rate`: it has
// one clear alignment against itself, unlike a steady tone.
std::vector<double> chirp(double rate, double seconds) {
    std::vector<double> out(static_cast<std::size_t>(rate * seconds));
    const double f0 = 200;
    const double f1 = 3000;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = 2 * M_PI * (f0 * t + (f1 - f0) * t * t / (2 * seconds));
        out[i] = 0.4 * std::sin(phase);
    }
    return out;
}

// Best normalised cross-correlation of `recorded` against `reference`, over shifts near where the
// recording first gets loud (the tone starts at once, so that is about where it begins).
double bestCorrelation(const std::vector<std::int16_t>& recorded,
                       const std::vector<double>& reference) {
    long onset = 0;
    while (onset < static_cast<long>(recorded.size()) &&
           std::abs(recorded[static_cast<std::size_t>(onset)]) < 1000) {
        ++onset;
    }
    double best = 0;
    for (long lag = onset - 100; lag <= onset + 100; ++lag) {
        double dot = 0;
        double a2 = 0;
        double b2 = 0;
        for (std::size_t i = 0; i < reference.size(); ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(recorded.size())) continue;
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

    // The built program's options: this server, a private home.
    test::BinaryOptions options() const {
        test::BinaryOptions o;
        o.env["HOME"] = dir.path();
        o.env["PULSE_SERVER"] = server->serverAddress();
        return o;
    }

    static test::PulseServer* server;
    TempDir dir;
};

test::PulseServer* PulseAudioTest::server = nullptr;

TEST_F(PulseAudioTest, ListsSourcesButNotMonitorsAndKnowsTheDefault) {
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
    EXPECT_EQ(resolveInputCandidates(*audioBackend(), "pipe"),
              (std::vector<InputDevice>{{devices[0].id, "Test Pipe Mic", false},
                                        {devices[1].id, "Test Builtin Mic", true},
                                        {devices[2].id, "Test Line In", true}}));
    // The "--devices" mode lists the same, and its plan.
    const auto run = test::runVak({"--devices"}, options());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "           id=" + std::to_string(devices[0].id) + "  Test Pipe Mic\n" +
                           "[built-in] id=" + std::to_string(devices[1].id) +
                           "  Test Builtin Mic\n" +
                           "[built-in] id=" + std::to_string(devices[2].id) +
                           "  Test Line In\n"
                           "→ preference \"builtin\" resolves to: Test Builtin Mic → Test Line "
                           "In\n");
}

TEST_F(PulseAudioTest, RecordsWhatTheMicrophoneHearsAt16k) {
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
    const std::string wav = readFixture(path);
    std::vector<std::int16_t> recorded((wav.size() - 44) / 2);
    std::memcpy(recorded.data(), wav.data() + 44, recorded.size() * 2);
    EXPECT_EQ(recorded.size(), result.frames);
    EXPECT_GE(bestCorrelation(recorded, chirp(16000, seconds)), 0.99);
}

TEST_F(PulseAudioTest, SourcesThatNeverDeliverOrDeliverSilenceAreSwappedThenReportedDead) {
    auto capturer = AudioCapturer::create(main, audioBackend());
    std::vector<std::string> swaps;
    int deaths = 0;
    // The built-in microphone never delivers; the line input after it delivers silence only.
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

TEST_F(PulseAudioTest, AvTestCountsDeliveredFrames) {
    server->feed(std::vector<std::int16_t>(48000 * 3, 1000));
    const auto run = test::runVak({"--av-test"}, options());
    server->waitFed();
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("AVTEST device: Test Pipe Mic\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("AVTEST: session running=true — capturing 2s…\n"), std::string::npos);
    EXPECT_NE(run.out.find("-> ✓ AVCaptureSession WORKS while AVAudioEngine is wedged"),
              std::string::npos);
}

// --mic-check: three seconds from the pipe source, a voice and a quiet but working microphone
// (a peak under 80, but not the silence of a dead input, which would be swapped out).
TEST_F(PulseAudioTest, MicCheckRecordsThreeSecondsAndWarnsOfANearSilentMicrophone) {
    std::vector<std::int16_t> voice(48000 * 5 / 2); // all of it fits in the 3 s window
    for (std::size_t i = 0; i < voice.size(); ++i) {
        voice[i] = static_cast<std::int16_t>(
            9000 * std::sin(2 * M_PI * 220 * static_cast<double>(i) / 48000));
    }
    struct Case {
        std::vector<std::int16_t> microphone;
        bool quiet;
    };
    for (const Case& c :
         {Case{voice, false}, Case{std::vector<std::int16_t>(voice.size(), 40), true}}) {
        SCOPED_TRACE(c.quiet ? "near-silent" : "voice");
        makeDirectories(dir.file(".dictation"));
        test::writeFixture(dir.file(".dictation/config"), "CLOUD=0\n");
        test::BinaryOptions o = options();
        o.env["VAK_TMPDIR"] = dir.path();
        server->feed(c.microphone);
        const auto run = test::runVak({"--mic-check", "test pipe"}, o);
        server->waitFed();
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_TRUE(regexSearch(run.out, "^device=Test Pipe Mic  frames=\\d+  peak=\\d+/32767  "
                                         "captured=[23]\\.\\ds\\n"))
            << run.out;
        EXPECT_EQ(
            run.out.find("RESULT: ⚠️ frames flowed but near-silent — speak louder / check "
                         "input level\n") != std::string::npos,
            c.quiet)
            << run.out;
        EXPECT_TRUE(run.out.ends_with("RESULT: ✓ capture path works\n")) << run.out;
        EXPECT_NE(run.err.find("recording 3s — say something…"), std::string::npos);
    }
}

TEST(PulseSounds, EveryNamedSoundPlaysOutWithoutTheCallerWaiting) {
    test::PulseServer server;
    if (!server.running()) GTEST_SKIP() << server.why();
    PulseSoundPlayer player;
    const auto start = SteadyClock::now();
    for (const Sound sound : kSounds)
        player.play(sound);
    EXPECT_LT(secondsSince(start), 0.1);
    // The six together last about two seconds if played one after another; they overlap.
    EXPECT_TRUE(player.waitIdle(10));
}

TEST(PulseSounds, NoSoundServerMeansSilenceNotAHang) {
    setenv("PULSE_SERVER", "unix:/nonexistent/vak-no-server", 1);
    PulseSoundPlayer player;
    const auto start = SteadyClock::now();
    player.play(Sound::Pasted);
    player.play(Sound::Failure);
    EXPECT_LT(secondsSince(start), 0.1);
    EXPECT_TRUE(player.waitIdle(10));
}

} // namespace
} // namespace vak
