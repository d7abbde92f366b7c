#include "audio/wav.h"
#include "base/files.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "decode_fixture.h"
#include "support/expect_contains.h"
#include "support/temp_dir.h"
#include "transcribe/local_decode.h"
#include "transcribe/tool_report.h"

#include <atomic>
#include <chrono>
#include <filesystem>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::LogCapture;
using test::writeFixture;

class LocalDecode : public test::DecodeTest {
  protected:
    std::optional<std::string> local(const std::string& wav, double limit = 10, double clip = 1,
                                     const std::atomic<bool>* cancel = nullptr) {
        return runWhisperLocalPath(wav, work.file("out"), limit, clip, settings, cancel);
    }
};

TEST_F(LocalDecode, WhisperCliGetsTheExactArgumentsTheRealToolAccepts) {
    const std::string wav = clip("a.wav", 0.5);
    whisper.setTranscript(" Guten Tag.\n");
    settings.config.useServer = false;
    settings.config.language = "de";
    settings.threads = 2; // the decode engine's share of the cores
    const std::string common = "-m " + settings.model + " -f " + wav + " -l de -nt -otxt -of " +
                               work.file("out") + " -mc 128 -et 2.8 -bs 5 -bo 5 -sns --prompt '" +
                               settings.prompt + "' --carry-initial-prompt -t 2";
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
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings).text, " Bonjour.\n");
    addVadModel();
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings).text, " Bonjour.\n");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    // The same decode as whisper-cli's, which the server would otherwise make greedy.
    nlohmann::json fields = {
        {"response_format", "json"},      {"language", "fr"},        {"prompt", settings.prompt},
        {"carry_initial_prompt", "true"}, {"no_timestamps", "true"}, {"max_context", "128"},
        {"entropy_thold", "2.8"},         {"beam_size", "5"},        {"best_of", "5"},
        {"suppress_nst", "true"}};
    EXPECT_EQ(requests[0]["fields"], fields);
    fields["vad"] = "true";
    fields["vad_threshold"] = "0.3";
    EXPECT_EQ(requests[1]["fields"], fields);
    EXPECT_EQ(requests[0]["files"]["file"]["size"], 44 + 32000);
    EXPECT_EQ(requests[0]["files"]["file"]["filename"], "a.wav");

    // Its empty text is an answer; anything that is not an object with a string "text" is not,
    // and says why.
    struct Answer {
        const char* body;
        int status;
        std::optional<std::string> text;
        const char* problem;
    };
    const Answer answers[] = {
        {R"({"text":""})", 200, "", ""},
        {R"([{"text":"x"}])", 200, std::nullopt, R"(answered HTTP 200 ([{"text":"x"}]))"},
        {R"({"error":"model not loaded"})", 503, std::nullopt,
         "answered HTTP 503 (model not loaded)"},
        {"Invalid request", 400, std::nullopt, "answered HTTP 400 (Invalid request)"},
    };
    for (const auto& a : answers) {
        server.answer("inference", a.body, 0, a.status);
        const auto answer = runWhisperViaServer(wav, 10, settings);
        EXPECT_EQ(answer.text, a.text) << a.body;
        EXPECT_EQ(answer.problem, a.problem);
    }
    settings.serverUrl = test::deadUrl("/inference");
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings).problem, "not answering");
}

TEST_F(LocalDecode, AServerWithoutAVadModelIsAskedAgainWithoutTheGateAndThatIsRemembered) {
    const std::string wav = clip("a.wav", 1);
    addVadModel();
    // What the real server answers to vad=true when it was started without -vm.
    server.answer("inference", R"({"error":"failed to process audio"})", 0, 500);
    LogCapture log;
    // A server that fails without the gate as well is not marked: it has another problem.
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings).problem,
              "answered HTTP 500 (failed to process audio)");
    EXPECT_FALSE(settings.server->lacksVad.load());
    EXPECT_EQ(requestsTo("/inference"), 2u);

    server.answer("inference", R"({"text":"Gated."})", 0, 200);
    // The fake answers by the request: with the gate it fails, without it decodes.
    server.answerByField("inference", "vad", R"({"error":"failed to process audio"})", 500);
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings).text, "Gated.");
    EXPECT_EQ(runWhisperViaServer(wav, 10, settings).text, "Gated.");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u); // 2 + (with, without) + without
    EXPECT_FALSE(requests[4]["fields"].contains("vad"));
    EXPECT_TRUE(settings.server->lacksVad.load());
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"⚠️ whisper-server has no VAD model (with VAD on it "
                                       "answered HTTP 500 \"failed to process audio\") — decoding "
                                       "there without VAD from now on; start it with -vm " +
                                       settings.vadModel});
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

    // Ended on purpose (the stop needs the cores): nothing, at once, and no failure logged.
    const std::atomic<bool> ended{true};
    const auto before = log.text().size();
    const auto stopped = SteadyClock::now();
    EXPECT_EQ(local(wav, 10, 7.9, &ended), std::nullopt);
    EXPECT_LT(secondsSince(stopped), 1.0);
    EXPECT_EQ(log.text().find("!!", before), std::string::npos);
    EXPECT_EQ(test::childProcesses(), std::vector<pid_t>{server.pid()});

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

TEST_F(LocalDecode, AWhisperCliThatWroteNoTextIsLoggedWithItsStatusAndWhy) {
    const std::string wav = clip("a.wav", 1);
    settings.config.useServer = false;
    whisper.setTranscript("Words.");
    // A file system with no room left for the text (as root: a full tmpfs of one page).
    const std::string full = work.file("full");
    const test::SmallFileSystem disk(full, 4096);
    const bool mounted = disk.mounted();
    if (mounted) disk.fill();
    struct Case {
        const char* control;
        std::string language;
        bool removeModel;
        std::string line;
        bool fullDisk = false; // the text goes to the full file system
    };
    const Case cases[] = {
        // The real tool exits 0 after these two, and prints its usage after the error.
        {"", "en-us", false, "!! whisper-cli exit 0, no output: error: unknown language 'en-us'"},
        {"mode=silent", "en", false, "!! whisper-cli exit 0, no output: no message"},
        {"", "en", true,
         "!! whisper-cli exit 3, no output: whisper_init_from_file_with_params_no_state: failed to "
         "open '" +
             settings.model + "' · error: failed to initialize whisper context"},
        // Text, but a status that says the run did not end well.
        {"exit=4", "en", false, "!! whisper-cli exit 4: no message"},
        // It exits 0 and leaves an empty file: a failure with its cause, not silence.
        {"", "en", false,
         "!! whisper-cli could not write its text " + full +
             "/out.txt (No space left on device) (clip 1s)",
         true},
    };
    for (const auto& c : cases) {
        if (c.fullDisk && !mounted) continue;
        whisper.setControl(c.control);
        settings.config.language = c.language;
        if (c.removeModel) removeFile(settings.model);
        const std::string base = c.fullDisk ? full + "/out" : work.file("out");
        removeFile(base + ".txt");
        LogCapture log;
        EXPECT_EQ(runWhisperLocalPath(wav, base, 10, 1, settings), std::nullopt) << c.line;
        EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
        writeFixture(settings.model, "model");
    }
}

TEST_F(LocalDecode, AnOlderWhisperCliGetsOnlyTheOptionsItHasAndTheLogSaysWhichLack) {
    const std::string wav = clip("a.wav", 1);
    settings.config.useServer = false;
    addVadModel();
    whisper.setTranscript("Words.");
    // The fake's help lists what the real tool's does.
    const auto full = toolOptions(whisper.path());
    ASSERT_TRUE(full);
    for (const char* option : {"-m", "-mc", "-sns", "--carry-initial-prompt", "--vad", "-vm"})
        EXPECT_TRUE(full->contains(option)) << option;
    auto older = std::make_shared<ToolOptions>(*full);
    older->erase("--carry-initial-prompt");
    older->erase("--vad");
    settings.cliOptions = older;
    LogCapture log;
    EXPECT_EQ(local(wav), "Words.");
    EXPECT_EQ(local(wav), "Words.");
    const std::string args = test::commandLine(whisper.calls().back().args);
    EXPECT_TRUE(args.ends_with("-sns --prompt '" + settings.prompt + "'")) << args;
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"⚠️ " + settings.whisperCli +
                                       " has no --carry-initial-prompt, --vad — running it without "
                                       "those options (whisper.cpp v1.9.3 has them: vak-dictate "
                                       "--setup-engine builds it)"});
    // A help that lists no model option is no help to judge by.
    EXPECT_EQ(parseToolHelp("Usage: whisper [flags]\n  --frobnicate\n"), nullptr);
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
