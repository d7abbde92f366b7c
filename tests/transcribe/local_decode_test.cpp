#include "audio/wav.h"
#include "base/files.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "decode_fixture.h"
#include "transcribe/local_decode.h"

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;
using test::writeFixture;

class LocalDecode : public test::DecodeTest {};

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST_F(LocalDecode, WhisperCliGetsTheExactArgumentsTheRealToolAccepts) {
    const std::string wav = clip("a.wav", 0.5);
    const std::string base = work.file("out");
    const std::vector<std::string> common = {"-m",
                                             settings.model,
                                             "-f",
                                             wav,
                                             "-l",
                                             "de",
                                             "-nt",
                                             "-otxt",
                                             "-of",
                                             base,
                                             "-mc",
                                             "128",
                                             "-et",
                                             "2.8",
                                             "-bs",
                                             "5",
                                             "-bo",
                                             "5",
                                             "-sns",
                                             "--prompt",
                                             settings.prompt,
                                             "--carry-initial-prompt"};
    struct Case {
        bool whisperMode;
        bool callMode;
        bool vad;
        std::vector<std::string> tail;
    };
    const std::vector<Case> cases = {
        {false, false, false, {}},
        {true, false, false, {}},
        {false, true, false, {}},
        {false, false, true, {"--vad", "-vm", settings.vadModel, "-vt", "0.5"}},
        {true, false, true, {"--vad", "-vm", settings.vadModel, "-vt", "0.15"}},
        {false, true, true, {"--vad", "-vm", settings.vadModel, "-vt", "0.2"}},
    };
    whisper.setTranscript(" Guten Tag.\n");
    settings.config.useServer = false;
    settings.config.language = "de";
    settings.config.vadThreshold = 0.5;
    for (const auto& c : cases) {
        settings.config.whisperMode = c.whisperMode;
        settings.config.callMode = c.callMode;
        removeFile(settings.vadModel);
        if (c.vad) addVadModel();
        removeFile(base + ".txt");
        // The fake rejects anything the real tool would, so a present, untrimmed text means the
        // list parsed.
        EXPECT_EQ(runWhisperLocalPath(wav, base, 10, 0.5, settings), " Guten Tag.\n");
        auto expected = common;
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        ASSERT_FALSE(whisper.calls().empty());
        EXPECT_EQ(whisper.calls().back().args, expected) << c.whisperMode << c.callMode << c.vad;
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
    const nlohmann::json fields = {
        {"response_format", "json"}, {"language", "fr"}, {"prompt", settings.prompt}};
    EXPECT_EQ(requests[0]["fields"], fields);
    auto withVad = fields;
    withVad["vad"] = "true";
    EXPECT_EQ(requests[1]["fields"], withVad);
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

TEST_F(LocalDecode, ServerFirstThenWhisperCliSoonAfterADeadServer) {
    const std::string wav = clip("a.wav", 1);
    whisper.setTranscript("From the tool.");
    server.answer("inference", R"({"text":"From the server."})");
    EXPECT_EQ(runWhisperLocalPath(wav, work.file("out"), 10, 1, settings), "From the server.");
    EXPECT_TRUE(whisper.calls().empty());

    settings.serverUrl = test::deadUrl("/inference");
    LogCapture log;
    const long long start = nowMs();
    EXPECT_EQ(runWhisperLocalPath(wav, work.file("out"), 10, 1, settings), "From the tool.");
    ASSERT_EQ(whisper.calls().size(), 1u);
    EXPECT_LT(whisper.calls()[0].startMs - start, 1000); // a refused connection costs little
    EXPECT_NE(log.text().find("⚠️ whisper-server not answering — falling back to whisper-cli "
                              "(slower)"),
              std::string::npos);
}

TEST_F(LocalDecode, ServerIsSkippedInCallModeQuietVoiceModeAndWhenOff) {
    const std::string wav = clip("a.wav", 1);
    whisper.setTranscript("Tool.");
    server.answer("inference", R"({"text":"Server."})");
    for (int variant = 0; variant < 3; ++variant) {
        settings.config.callMode = variant == 0;
        settings.config.whisperMode = variant == 1;
        settings.config.useServer = variant != 2;
        EXPECT_EQ(runWhisperLocalPath(wav, work.file("out"), 10, 1, settings), "Tool.");
    }
    EXPECT_EQ(requestsTo("/inference"), 0u);
}

TEST_F(LocalDecode, HungWhisperCliIsTerminatedThenKilledWithTheWatchdogLine) {
    const std::string wav = clip("a.wav", 1);
    settings.config.useServer = false;
    settings.timeScale = 0.1; // the kill follows 0.2 s after the polite stop
    whisper.setControl("mode=hang");
    LogCapture log;
    const auto start = SteadyClock::now();
    EXPECT_EQ(runWhisperLocalPath(wav, work.file("out"), 1.0, 7.9, settings), std::nullopt);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 1.15);
    EXPECT_LT(elapsed, 3.0);
    EXPECT_NE(log.text().find("!! whisper watchdog: killed after 1s (clip 7s)"), std::string::npos);
    EXPECT_TRUE(test::childProcesses().size() == 1); // only the fake server is left
}

TEST_F(LocalDecode, WhisperCliFailuresGiveNothing) {
    const std::string wav = clip("a.wav", 1);
    const std::string base = work.file("out");
    settings.config.useServer = false;
    LogCapture log;

    whisper.setControl("mode=silent"); // exits 0 without writing a transcript
    EXPECT_EQ(runWhisperLocalPath(wav, base, 10, 1, settings), std::nullopt);

    whisper.setControl("mode=crash");
    EXPECT_EQ(runWhisperLocalPath(wav, base, 10, 1, settings), std::nullopt);
    EXPECT_NE(log.text().find("!! whisper-cli ended by signal 9 (clip 1s)"), std::string::npos);
    EXPECT_EQ(log.text().find("watchdog"), std::string::npos);

    whisper.setControl("mode=write");
    whisper.setTranscript("caf\xe9"); // not UTF-8
    EXPECT_EQ(runWhisperLocalPath(wav, base, 10, 1, settings), std::nullopt);

    settings.whisperCli = work.file("missing-whisper-cli");
    EXPECT_EQ(runWhisperLocalPath(wav, base, 10, 1, settings), std::nullopt);
    EXPECT_NE(log.text().find("!! whisper error: " + settings.whisperCli), std::string::npos);
}

TEST_F(LocalDecode, EachFilterChainRunsOnTheRealFfmpeg) {
    settings.config.preprocess = true;
    settings.ffmpeg = "/usr/bin/ffmpeg";
    // A colon in the name would be taken for a protocol without the "file:" prefix.
    const std::string wav = clip("take:1.wav", 2);
    for (int mode = 0; mode < 3; ++mode) {
        settings.config.callMode = mode == 1;
        settings.config.whisperMode = mode == 2;
        const auto out = preprocessAudio(wav, 2, settings);
        ASSERT_EQ(out, wav + ".pp.wav") << mode;
        EXPECT_EQ(findWavDataOffset(*out).has_value(), true);
        EXPECT_GT(fileSize(*out).value_or(0), 60000); // about 2 s of 16 kHz mono
        EXPECT_EQ(filePermissions(*out), 0600u);
        removeFile(*out);
    }
}

TEST_F(LocalDecode, ConditioningRejectsTinyOrFailedOutputAndLeavesNothing) {
    settings.config.preprocess = true;
    settings.ffmpeg = "/usr/bin/ffmpeg";
    LogCapture log;
    // 0.01 s of audio: ffmpeg succeeds, but 364 bytes are no usable recording.
    const std::string tiny = clip("tiny.wav", 0.01);
    EXPECT_EQ(preprocessAudio(tiny, 0, settings), std::nullopt);
    EXPECT_FALSE(pathExists(tiny + ".pp.wav"));
    EXPECT_TRUE(regexSearch(
        log.text(), R"(⚠️ preprocess failed \(status 0, \d+B\) — decoding raw clip)"));

    const std::string garbage = work.file("garbage.wav");
    writeFixture(garbage, std::string(5000, 'x'));
    EXPECT_EQ(preprocessAudio(garbage, 0, settings), std::nullopt);
    EXPECT_FALSE(pathExists(garbage + ".pp.wav"));
    EXPECT_TRUE(regexSearch(log.text(), R"(preprocess failed \(status [1-9]\d*, 0B\))"));

    // Something in the copy's place that cannot be removed: ffmpeg is not started, and what is
    // there stays untouched.
    const std::string blocked = clip("blocked.wav", 1);
    std::filesystem::create_directory(blocked + ".pp.wav");
    writeFixture(blocked + ".pp.wav/keep", "keep");
    EXPECT_EQ(preprocessAudio(blocked, 1, settings), std::nullopt);
    EXPECT_NE(log.text().find("⚠️ preprocess failed (cannot create " + blocked + ".pp.wav)"),
              std::string::npos);
    EXPECT_EQ(test::readFixture(blocked + ".pp.wav/keep"), "keep");

    settings.config.preprocess = false;
    EXPECT_EQ(preprocessAudio(clip("a.wav", 1), 1, settings), std::nullopt);
    settings.config.preprocess = true;
    settings.ffmpeg = work.file("no-ffmpeg");
    EXPECT_EQ(preprocessAudio(clip("a.wav", 1), 1, settings), std::nullopt);
    EXPECT_FALSE(pathExists(work.file("a.wav.pp.wav")));
}

} // namespace
} // namespace vak
