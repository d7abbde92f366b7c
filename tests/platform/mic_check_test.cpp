// --mic-check against a private PulseAudio server: three seconds from the pipe source.
#include "base/regex.h"
#include "support/pulse_server.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

class MicCheck : public testing::Test {
  protected:
    static void SetUpTestSuite() { server = new test::PulseServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server->running()) GTEST_SKIP() << "no PulseAudio server here: " << server->why();
        std::filesystem::create_directories(home.file(".dictation"));
        test::writeFixture(home.file(".dictation/config"), "CLOUD=0\n");
    }
    test::BinaryRun check(std::vector<std::int16_t> microphone) {
        test::BinaryOptions options;
        options.env["HOME"] = home.path();
        options.env["VAK_TMPDIR"] = home.path();
        options.env["PULSE_SERVER"] = server->serverAddress();
        server->feed(std::move(microphone));
        auto run = test::runVak({"--mic-check", "test pipe"}, options);
        server->waitFed();
        return run;
    }

    static test::PulseServer* server;
    test::TempDir home;
};

test::PulseServer* MicCheck::server = nullptr;

TEST_F(MicCheck, RecordsThreeSecondsAndSaysTheCapturePathWorks) {
    std::vector<std::int16_t> voice(48000 * 5 / 2); // all of it fits in the 3 s window
    for (std::size_t i = 0; i < voice.size(); ++i) {
        voice[i] = static_cast<std::int16_t>(
            9000 * std::sin(2 * M_PI * 220 * static_cast<double>(i) / 48000));
    }
    const auto run = check(voice);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(regexSearch(run.out, "^device=Test Pipe Mic  frames=\\d+  peak=\\d+/32767  "
                                     "captured=[23]\\.\\ds\\n"))
        << run.out;
    EXPECT_EQ(run.out.find("near-silent"), std::string::npos);
    EXPECT_TRUE(run.out.ends_with("RESULT: ✓ capture path works\n")) << run.out;
    EXPECT_NE(run.err.find("recording 3s — say something…"), std::string::npos);
}

TEST_F(MicCheck, ANearSilentButWorkingMicrophoneWarnsAndStillSucceeds) {
    // Quiet (a peak under 80) but not the silence of a dead input, which would be swapped out.
    const auto run = check(std::vector<std::int16_t>(48000 * 5 / 2, 40));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find("RESULT: ⚠️ frames flowed but near-silent — speak louder / check input "
                     "level\n"),
        std::string::npos)
        << run.out;
    EXPECT_TRUE(run.out.ends_with("RESULT: ✓ capture path works\n")) << run.out;
}

} // namespace
} // namespace vak
