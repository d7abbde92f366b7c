#include "base/files.h"
#include "base/time_util.h"
#include "binary_fixture.h"
#include "support/expect_contains.h"

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::runVak;

// A two-second clip; the fake whisper-cli answers "Hello world."
class TranscribeFile : public test::SpeechBinaryTest {
  protected:
    TranscribeFile() {
        test::writeFixture(clip, test::toneWav(2));
        whisper.setTranscript("Hello world.\n");
        userFile("config", "CLOUD=0\n");
    }
    test::BinaryRun run(const std::vector<std::string>& args) const {
        return runVak(args, options());
    }

    std::string clip = home.file("clip.wav");
};

// The real ffmpeg conditions the clip into the scratch folder, not beside the user's file; the
// tools' output is private to the user. No transcript is a failure.
TEST_F(TranscribeFile, PrintsTheFormattedTranscriptAndCleansUp) {
    test::writeFixture(clip + ".pp.wav", "mine");
    const auto done = run({"--transcribe-file", clip});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.out, "Hello world.\n");
    ASSERT_EQ(whisper.calls().size(), 1u);
    const auto args = whisper.calls()[0].args;
    EXPECT_EQ(args.at(3).rfind(scratch.path() + "/vak_pp_", 0), 0u);
    EXPECT_EQ(args.at(9).rfind(scratch.path() + "/vak_clitest_", 0), 0u);
    EXPECT_TRUE(scratchIsEmpty());
    EXPECT_EQ(test::readFixture(clip + ".pp.wav"), "mine");
    EXPECT_EQ(test::readFixture(whisper.dir() + "/umask.txt"), "77");
    whisper.setControl("mode=silent");
    const auto failed = run({"--transcribe-file", clip});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.ends_with("transcription failed\n")) << failed.err;
}

TEST_F(TranscribeFile, WhatIsNotAWavFileNeverReachesAnEngine) {
    std::filesystem::create_directory(home.file("folder.wav"));
    ASSERT_EQ(::mkfifo(home.file("fifo.wav").c_str(), 0600), 0);
    test::writeFixture(home.file("notes.wav"), std::string(100, 'n'));
    for (const auto& [name, why] : {std::pair{"folder.wav", "is a folder"},
                                    {"fifo.wav", "is a FIFO"},
                                    {"notes.wav", "is not a WAV file"}}) {
        const auto refused = run({"--transcribe-file", home.file(name)});
        EXPECT_EQ(refused.exitCode, 1) << name;
        EXPECT_EQ(refused.err, "cannot read " + home.file(name) + ": " + why + "\n");
    }
    EXPECT_TRUE(whisper.calls().empty());
}

TEST_F(TranscribeFile, RetryFailedDecodesEveryKeptRecordingAgainAndKeepsThem) {
    const std::string kept[] = {scratch.file("vak_failed_3.wav"),
                                scratch.file("vak_failed_3-2.wav")};
    for (const auto& file : kept)
        test::writeFixture(file, test::toneWav(2));
    auto retry = run({"--retry-failed"});
    EXPECT_EQ(retry.exitCode, 0) << retry.err;
    for (const auto& file : kept) {
        EXPECT_CONTAINS(retry.out, file + " (");
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    EXPECT_CONTAINS(retry.out, ", 2.0 s)\nHello world.\n");
    EXPECT_EQ(whisper.calls().size(), 2u);
    whisper.setControl("mode=silent");
    retry = run({"--retry-failed"});
    EXPECT_EQ(retry.exitCode, 1);
    EXPECT_CONTAINS(retry.out, "transcription failed again — the recording stays for another try");
}

// The hung whisper-cli ignores SIGTERM; it must still be gone when the run ends, not orphaned.
TEST_F(TranscribeFile, TheCloudWinsAndTheHungLocalDecoderDoesNotOutliveTheRun) {
    test::FakeSpeechServer server;
    server.answer("transcribe", R"({"text":"Hello from the cloud."})", 0.3);
    whisper.setControl("mode=hang");
    userFile("config", "SERVER=0\nPREPROCESS=0\nTRANSCRIBE_URL=" + server.url("/transcribe"));
    const auto start = SteadyClock::now();
    const auto won = run({"--transcribe-file", clip});
    EXPECT_LT(secondsSince(start), 5.0); // not the local engine's 64 s
    EXPECT_EQ(won.exitCode, 0) << won.err;
    EXPECT_EQ(won.out, "Hello from the cloud.\n");
    EXPECT_CONTAINS(won.err, "⚡ decode race: cloud won (cloud 0.");
    ASSERT_EQ(whisper.calls().size(), 1u);
    EXPECT_NE(::kill(whisper.calls().back().pid, 0), 0);
    EXPECT_TRUE(scratchIsEmpty());
}

} // namespace
} // namespace vak
