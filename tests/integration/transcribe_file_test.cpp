#include "base/files.h"
#include "support/run_binary.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::BinaryOptions;
using test::runVak;
using test::TempDir;
using test::writeFixture;

// The binary with a private HOME and scratch folder, the fake whisper-cli first on the tool
// path, and the decode model in place.
class TranscribeFile : public testing::Test {
  protected:
    TranscribeFile() {
        std::filesystem::create_directories(home.file(".whisper-models"));
        std::filesystem::create_directories(home.file(".dictation"));
        std::filesystem::create_directories(home.file("scratch"));
        writeFixture(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"), "model");
        writeFixture(home.file("clip.wav"), test::toneWav(2));
        whisper.setTranscript("Hello world.\n");
    }
    void configure(const std::string& lines) const {
        writeFixture(home.file(".dictation/config"), lines);
    }
    BinaryOptions options() const {
        BinaryOptions o;
        o.env["HOME"] = home.path();
        o.env["VAK_TMPDIR"] = home.file("scratch");
        o.env["VAK_TOOL_PATH"] = whisper.dir();
        o.env["VAK_WHISPER_SERVER_URL"] = test::deadUrl("/inference");
        o.timeoutSeconds = 30;
        return o;
    }
    bool scratchIsEmpty() const { return std::filesystem::is_empty(home.file("scratch")); }

    TempDir home;
    test::FakeWhisper whisper;
};

TEST_F(TranscribeFile, PrintsTheFormattedTranscriptAndCleansUp) {
    configure("CLOUD=0\n");
    const auto run = runVak({"--transcribe-file", home.file("clip.wav")}, options());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Hello world.\n");
    ASSERT_EQ(whisper.calls().size(), 1u);
    const auto args = whisper.calls()[0].args;
    // The real ffmpeg conditioned the clip; the text base is the scratch folder's.
    EXPECT_EQ(args.at(3), home.file("clip.wav") + ".pp.wav");
    EXPECT_EQ(args.at(9).rfind(home.file("scratch") + "/vak_clitest_", 0), 0u);
    EXPECT_TRUE(scratchIsEmpty());
    EXPECT_FALSE(pathExists(home.file("clip.wav.pp.wav")));
    // The tools' output (the transcript file) is private to the user too.
    EXPECT_EQ(test::readFixture(whisper.dir() + "/umask.txt"), "77");
}

TEST_F(TranscribeFile, WithNoEngineItSaysTranscriptionFailed) {
    configure("CLOUD=0\n");
    auto o = options();
    o.env["VAK_TOOL_PATH"] = home.file("no-tools");
    std::filesystem::remove(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"));
    const auto run = runVak({"--transcribe-file", home.file("clip.wav")}, o);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.ends_with("transcription failed\n")) << run.err;
}

TEST_F(TranscribeFile, TheCloudWinsAndTheHungLocalDecoderDoesNotOutliveTheRun) {
    test::FakeSpeechServer server;
    server.answer("transcribe", R"({"text":"Hello from the cloud."})", 0.3);
    configure("SERVER=0\nPREPROCESS=0\nTRANSCRIBE_URL=" + server.url("/transcribe") + "\n");
    whisper.setControl("mode=hang");
    const auto start = std::chrono::steady_clock::now();
    const auto run = runVak({"--transcribe-file", home.file("clip.wav")}, options());
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Hello from the cloud.\n");
    EXPECT_LT(elapsed, 5.0); // not the local engine's 64 s
    EXPECT_NE(run.err.find("⚡ decode race: cloud won (cloud 0."), std::string::npos) << run.err;
    ASSERT_EQ(whisper.calls().size(), 1u);
    // The hung whisper-cli ignored SIGTERM; it must still be gone, not orphaned.
    EXPECT_NE(::kill(whisper.calls()[0].pid, 0), 0);
    EXPECT_TRUE(scratchIsEmpty());
}

} // namespace
} // namespace vak
