#include "audio/wav.h"
#include "base/files.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "decode_fixture.h"
#include "support/expect_contains.h"
#include "transcribe/local_decode.h"

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;
using test::writeFixture;

class LocalDecode : public test::DecodeTest {
  protected:
    std::optional<std::string> local(const std::string& wav, double limit = 10, double clip = 1) {
        return runWhisperLocalPath(wav, work.file("out"), limit, clip, settings);
    }
};

TEST_F(LocalDecode, WhisperCliGetsTheExactArgumentsTheRealToolAccepts) {
    const std::string wav = clip("a.wav", 0.5);
    whisper.setTranscript(" Guten Tag.\n");
    settings.config.useServer = false;
    settings.config.language = "de";
    const std::string common = "-m " + settings.model + " -f " + wav + " -l de -nt -otxt -of " +
                               work.file("out") + " -mc 128 -et 2.8 -bs 5 -bo 5 -sns --prompt '" +
                               settings.prompt + "' --carry-initial-prompt";
    const std::string vad = " --vad -vm " + settings.vadModel + " -vt ";
    struct Case {
        bool whisperMode;
        bool callMode;
        double threshold;
        const char* gate; // nullptr: no VAD model
    };
    // The modes only ever lower the voice gate: to 0.15 for a quiet voice (also in a call), to
    // 0.2 in a call.
    const Case cases[] = {
        {false, false, 0.5, nullptr}, {true, false, 0.5, nullptr}, {false, true, 0.5, nullptr},
        {false, false, 0.5, "0.5"},   {true, false, 0.5, "0.15"},  {false, true, 0.5, "0.2"},
        {true, true, 0.5, "0.15"},    {false, true, 0.1, "0.1"},   {true, false, 0.1, "0.1"},
    };
    for (const auto& c : cases) {
        settings.config.vadThreshold = c.threshold;
        settings.config.whisperMode = c.whisperMode;
        settings.config.callMode = c.callMode;
        removeFile(settings.vadModel);
        if (c.gate) addVadModel();
        removeFile(work.file("out.txt"));
        // The fake rejects anything the real tool would, so a present, untrimmed text means the
        // list parsed.
        EXPECT_EQ(local(wav), " Guten Tag.\n");
        ASSERT_FALSE(whisper.calls().empty());
        EXPECT_EQ(test::commandLine(whisper.calls().back().args),
                  common + (c.gate ? vad + c.gate : ""));
    }
    EXPECT_EQ(requestsTo("/inference"), 0u); // the server was off throughout
}

TEST_F(LocalDecode, ServerFormFieldsAndAnswers) {
    const std::string wav = clip("a.wav", 1);
    settings.config.language = "fr";
    server.answer("inference", R"({"text":" Bonjour.\n"})");
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings), " Bonjour.\n");
    addVadModel();
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings), " Bonjour.\n");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    nlohmann::json fields = {
        {"response_format", "json"}, {"language", "fr"}, {"prompt", settings.prompt}};
    EXPECT_EQ(requests[0]["fields"], fields);
    fields["vad"] = "true";
    EXPECT_EQ(requests[1]["fields"], fields);
    EXPECT_EQ(requests[0]["files"]["file"]["size"], 44 + 32000);
    EXPECT_EQ(requests[0]["files"]["file"]["filename"], "a.wav");

    // Its empty text is an answer; anything that is not an object with a string "text" is not.
    const std::vector<std::pair<std::string, std::optional<std::string>>> answers = {
        {R"({"text":""})", ""},
        {R"([{"text":"x"}])", std::nullopt},
        {R"({"error":"model not loaded"})", std::nullopt},
        {"Internal Server Error", std::nullopt},
    };
    for (const auto& [body, expected] : answers) {
        server.answer("inference", body);
        EXPECT_EQ(runWhisperViaServer(wav, 10, settings), expected) << body;
    }
    settings.serverUrl = test::deadUrl("/inference");
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings), std::nullopt);
}

TEST_F(LocalDecode, TheServerComesFirstUnlessOffOrInCallOrQuietVoiceMode) {
    const std::string wav = clip("a.wav", 1);
    whisper.setTranscript("From the tool.");
    server.answer("inference", R"({"text":"From the server."})");
    EXPECT_EQ(local(wav), "From the server.");
    EXPECT_TRUE(whisper.calls().empty());
    for (int variant = 0; variant < 3; ++variant) {
        settings.config.callMode = variant == 0;
        settings.config.whisperMode = variant == 1;
        settings.config.useServer = variant != 2;
        EXPECT_EQ(local(wav), "From the tool.") << variant;
    }
    EXPECT_EQ(requestsTo("/inference"), 1u);

    // A server that is not there costs little before whisper-cli takes over.
    settings.config.useServer = true;
    settings.config.whisperMode = false;
    settings.serverUrl = test::deadUrl("/inference");
    LogCapture log;
    const auto start = std::chrono::system_clock::now();
    EXPECT_EQ(local(wav), "From the tool.");
    ASSERT_EQ(whisper.calls().size(), 4u);
    const auto started = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(whisper.calls().back().startMs));
    EXPECT_LT(started - start, std::chrono::seconds(1));
    EXPECT_CONTAINS(log.text(),
                    "⚠️ whisper-server not answering — falling back to whisper-cli (slower)");
}

TEST_F(LocalDecode, WhisperCliFailuresGiveNothingAndAHungOneIsKilled) {
    const std::string wav = clip("a.wav", 1);
    settings.config.useServer = false;
    settings.timeScale = 0.1; // the kill follows 0.2 s after the polite stop
    whisper.setControl("mode=hang");
    LogCapture log;
    const auto start = SteadyClock::now();
    EXPECT_EQ(local(wav, 1.0, 7.9), std::nullopt);
    EXPECT_GE(secondsSince(start), 1.15);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_CONTAINS(log.text(), "!! whisper watchdog: killed after 1s (clip 7s)");
    EXPECT_EQ(test::childProcesses(), std::vector<pid_t>{server.pid()});

    whisper.setControl("mode=silent"); // exits 0 without writing a transcript
    EXPECT_EQ(local(wav), std::nullopt);
    whisper.setControl("mode=crash");
    EXPECT_EQ(local(wav), std::nullopt);
    EXPECT_CONTAINS(log.text(), "!! whisper-cli ended by signal 9 (clip 1s)");
    EXPECT_EQ(log.text().rfind("watchdog"), log.text().find("watchdog")); // a crash is no timeout

    whisper.setControl("mode=write");
    whisper.setTranscript("caf\xe9"); // not UTF-8
    EXPECT_EQ(local(wav), std::nullopt);
    settings.whisperCli = work.file("missing-whisper-cli");
    EXPECT_EQ(local(wav), std::nullopt);
    EXPECT_CONTAINS(log.text(), "!! whisper error: " + settings.whisperCli);
}

// The normal and call chains run on the real ffmpeg in decode_router_test.
TEST_F(LocalDecode, ConditioningGivesAPrivateCopyOrNothingAndLeavesNothing) {
    settings.config.preprocess = true;
    settings.config.whisperMode = true;
    settings.ffmpeg = "/usr/bin/ffmpeg";
    // A colon in the name would be taken for a protocol without the "file:" prefix.
    const std::string wav = clip("take:1.wav", 2);
    const auto copy = preprocessAudio(wav, 2, settings);
    ASSERT_TRUE(copy && copy->starts_with(work.file("vak_pp_"))) << copy.value_or("nothing");
    EXPECT_TRUE(findWavDataOffset(*copy).has_value());
    EXPECT_GT(fileSize(*copy).value_or(0), 60000); // about 2 s of 16 kHz mono
    EXPECT_EQ(filePermissions(*copy), 0600u);
    removeFile(*copy);

    LogCapture log;
    // 0.01 s of audio: ffmpeg succeeds, but 364 bytes are no usable recording.
    const std::string tiny = clip("tiny.wav", 0.01);
    EXPECT_EQ(preprocessAudio(tiny, 0, settings), std::nullopt);
    EXPECT_EQ(conditionedCopiesLeft(), 0u);
    EXPECT_TRUE(regexSearch(
        log.text(), R"(⚠️ preprocess failed \(status 0, \d+B\) — decoding raw clip)"));

    const std::string garbage = work.file("garbage.wav");
    writeFixture(garbage, std::string(5000, 'x'));
    EXPECT_EQ(preprocessAudio(garbage, 0, settings), std::nullopt);
    EXPECT_EQ(conditionedCopiesLeft(), 0u);
    EXPECT_TRUE(regexSearch(log.text(), R"(preprocess failed \(status [1-9]\d*, 0B\))"));

    // No scratch folder to make the copy in: ffmpeg is not started.
    settings.scratch = ScratchFiles(work.file("missing-folder"));
    EXPECT_EQ(preprocessAudio(clip("blocked.wav", 1), 1, settings), std::nullopt);
    EXPECT_CONTAINS(log.text(), "⚠️ preprocess failed (cannot create " +
                                    work.file("missing-folder/vak_pp_"));
    settings.scratch = ScratchFiles(work.path());

    settings.config.preprocess = false;
    EXPECT_EQ(preprocessAudio(clip("a.wav", 1), 1, settings), std::nullopt);
    settings.config.preprocess = true;
    settings.ffmpeg = work.file("no-ffmpeg");
    EXPECT_EQ(preprocessAudio(clip("a.wav", 1), 1, settings), std::nullopt);
    EXPECT_EQ(conditionedCopiesLeft(), 0u);
}

} // namespace
} // namespace vak
