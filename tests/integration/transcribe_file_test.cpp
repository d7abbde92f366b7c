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
    }
    test::BinaryRun transcribe(const std::string& config, const std::string& tools = "") const {
        userFile("config", config);
        auto o = options();
        if (!tools.empty()) o.env["VAK_TOOL_PATH"] = tools;
        return runVak({"--transcribe-file", clip}, o);
    }

    std::string clip = home.file("clip.wav");
};

TEST_F(TranscribeFile, PrintsTheFormattedTranscriptAndCleansUp) {
    // A file of the user's that happens to have the name the copy once had stays as it is.
    test::writeFixture(clip + ".pp.wav", "mine");
    const auto run = transcribe("CLOUD=0\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Hello world.\n");
    ASSERT_EQ(whisper.calls().size(), 1u);
    const auto args = whisper.calls()[0].args;
    // The real ffmpeg conditioned the clip into the scratch folder, where the text base is too.
    EXPECT_EQ(args.at(3).rfind(scratch.path() + "/vak_pp_", 0), 0u);
    EXPECT_EQ(args.at(9).rfind(scratch.path() + "/vak_clitest_", 0), 0u);
    EXPECT_TRUE(scratchIsEmpty());
    EXPECT_EQ(test::readFixture(clip + ".pp.wav"), "mine");
    // The tools' output (the transcript file) is private to the user too.
    EXPECT_EQ(test::readFixture(whisper.dir() + "/umask.txt"), "77");
}

TEST_F(TranscribeFile, WithNoEngineItSaysTranscriptionFailed) {
    std::filesystem::remove(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"));
    const auto run = transcribe("CLOUD=0\n", home.file("no-tools"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.ends_with("transcription failed\n")) << run.err;
}

TEST_F(TranscribeFile, WhatIsNotAWavFileNeverReachesAnEngine) {
    userFile("config", "CLOUD=0\n");
    std::filesystem::create_directory(home.file("folder.wav"));
    ASSERT_EQ(::mkfifo(home.file("fifo.wav").c_str(), 0600), 0);
    test::writeFixture(home.file("notes.wav"), std::string(100, 'n'));
    for (const auto& [name, why] : {std::pair{"folder.wav", "is a folder"},
                                    {"fifo.wav", "is a FIFO"},
                                    {"notes.wav", "is not a WAV file"}}) {
        const auto run = runVak({"--transcribe-file", home.file(name)}, options());
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.err, "cannot read " + home.file(name) + ": " + why + "\n");
    }
    EXPECT_TRUE(whisper.calls().empty());
}

TEST_F(TranscribeFile, RetryFailedDecodesEveryKeptRecordingAgainAndKeepsThem) {
    auto run = runVak({"--retry-failed"}, options());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "no failed recordings are kept in " + scratch.path() + "\n");

    const std::string kept[] = {scratch.file("vak_failed_3.wav"),
                                scratch.file("vak_failed_3-2.wav")};
    for (const auto& file : kept)
        test::writeFixture(file, test::toneWav(2));
    userFile("config", "CLOUD=0\n");
    run = runVak({"--retry-failed"}, options());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const auto& file : kept) {
        EXPECT_CONTAINS(run.out, file + " (");
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    EXPECT_CONTAINS(run.out, ", 2.0 s)\nHello world.\n");
    EXPECT_EQ(whisper.calls().size(), 2u);

    whisper.setControl("mode=silent"); // no transcript: failed again
    run = runVak({"--retry-failed"}, options());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_CONTAINS(run.out, "transcription failed again — the recording stays for another try");
    // And the history mode, with privacy mode on, says how to turn it on.
    run = runVak({"--history"}, options());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_CONTAINS(run.out, "History is off");
}

// Both cloud protocols: the Brindle engine's, and with a key the OpenAI one.
TEST_F(TranscribeFile, TheCloudWinsAndTheHungLocalDecoderDoesNotOutliveTheRun) {
    test::FakeSpeechServer server;
    server.answer("transcribe", R"({"text":"Hello from the cloud."})", 0.3);
    server.answer("transcriptions", R"({"text":"Hello from the cloud."})", 0.3);
    whisper.setControl("mode=hang");
    const std::string shared = "SERVER=0\nPREPROCESS=0\nTRANSCRIBE_URL=";
    for (const std::string& config :
         {shared + server.url("/transcribe"),
          shared + server.url("/v1/audio/transcriptions") + "\nTRANSCRIBE_KEY=gsk_cli"}) {
        SCOPED_TRACE(config);
        const auto calls = whisper.calls().size();
        const auto start = SteadyClock::now();
        const auto run = transcribe(config + "\n");
        EXPECT_LT(secondsSince(start), 5.0); // not the local engine's 64 s
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "Hello from the cloud.\n");
        EXPECT_CONTAINS(run.err, "⚡ decode race: cloud won (cloud 0.");
        ASSERT_EQ(whisper.calls().size(), calls + 1);
        // The hung whisper-cli ignored SIGTERM; it must still be gone, not orphaned.
        EXPECT_NE(::kill(whisper.calls().back().pid, 0), 0);
        EXPECT_TRUE(scratchIsEmpty());
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1]["headers"]["authorization"], "Bearer gsk_cli");
    EXPECT_EQ(requests[1]["fields"]["model"], "whisper-1");
}

} // namespace
} // namespace vak
