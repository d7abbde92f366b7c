#include "audio/wav.h"
#include "base/files.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "decode_fixture.h"
#include "support/expect_contains.h"
#include "transcribe/local_decode.h"

#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

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

// The modes only ever lower the voice gate: to 0.15 for a quiet voice (also in a call), to 0.2
// in a call. The fake rejects anything the real tool would, so a present, untrimmed text means
// the list parsed.
TEST_F(LocalDecode, WhisperCliGetsTheExactArgumentsTheRealToolAccepts) {
    const std::string wav = clip("a.wav", 0.5);
    whisper.setTranscript(" Guten Tag.\n");
    settings.config.useServer = false;
    settings.config.language = "de";
    settings.threads = 2; // the decode engine's share of the cores
    const std::string common = "-m " + settings.model + " -f " + wav + " -l de -nt -otxt -of " +
                               work.file("out") + " -mc 128 -et 2.8 -bs 5 -bo 5 -sns --prompt '" +
                               settings.prompt + "' --carry-initial-prompt -t 2";
    struct Case {
        bool whisperMode;
        bool callMode;
        double threshold;
        const char* gate; // nullptr: no VAD model
    };
    const Case cases[] = {{false, false, 0.5, nullptr}, {false, false, 0.5, "0.5"},
                          {true, false, 0.5, "0.15"},   {false, true, 0.5, "0.2"},
                          {true, true, 0.5, "0.15"},    {false, true, 0.1, "0.1"}};
    for (const auto& c : cases) {
        settings.config.vadThreshold = c.threshold;
        settings.config.whisperMode = c.whisperMode;
        settings.config.callMode = c.callMode;
        removeFile(settings.vadModel);
        if (c.gate) writeFixture(settings.vadModel, "vad");
        removeFile(work.file("out.txt"));
        EXPECT_EQ(local(wav), " Guten Tag.\n");
        ASSERT_FALSE(whisper.calls().empty());
        EXPECT_EQ(test::commandLine(whisper.calls().back().args),
                  common + (c.gate ? " --vad -vm " + settings.vadModel + " -vt " + c.gate : ""));
    }
    EXPECT_EQ(requestsTo("/inference"), 0u); // the server was off throughout
}

TEST_F(LocalDecode, TheServerComesFirstUnlessOffOrInCallOrQuietVoiceMode) {
    const std::string wav = clip("a.wav", 1);
    whisper.setTranscript("From the tool.");
    server.answer("inference", R"({"text":"From the server."})");
    EXPECT_EQ(local(wav), "From the server.");
    for (int variant = 0; variant < 3; ++variant) {
        settings.config.callMode = variant == 0;
        settings.config.whisperMode = variant == 1;
        settings.config.useServer = variant != 2;
        EXPECT_EQ(local(wav), "From the tool.") << variant;
    }
    EXPECT_EQ(requestsTo("/inference"), 1u);

    // A server that is not there costs little before whisper-cli takes over.
    settings.config.useServer = true;
    settings.serverUrl = test::deadUrl("/inference");
    LogCapture log;
    const auto start = std::chrono::system_clock::now();
    EXPECT_EQ(local(wav), "From the tool.");
    const auto started = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(whisper.calls().back().startMs));
    EXPECT_LT(started - start, std::chrono::seconds(1));
    EXPECT_CONTAINS(log.text(),
                    "⚠️ whisper-server not answering — falling back to whisper-cli");
}

// Every failure gives nothing and one line with its cause. A hung one is killed by its watchdog
// (see the race in decode_router_test); one ended on purpose (the stop needs the cores) gives
// nothing at once, logs no failure and leaves no process.
TEST_F(LocalDecode, WhisperCliFailuresGiveNothingAndSayWhy) {
    const std::string wav = clip("a.wav", 1);
    settings.config.useServer = false;
    whisper.setControl("mode=hang");
    LogCapture log;
    const std::atomic<bool> ended{true};
    const auto stopped = SteadyClock::now();
    EXPECT_EQ(local(wav, 10, 7.9, &ended), std::nullopt);
    EXPECT_LT(secondsSince(stopped), 1.0);
    EXPECT_EQ(log.text().find("!!"), std::string::npos);
    EXPECT_EQ(test::childProcesses(), std::vector<pid_t>{server.pid()});

    struct Case {
        const char* control;
        const char* transcript;
        const char* logged; // nullptr: nothing to say beyond the bad text
    };
    const Case cases[] = {
        {"mode=crash", "Words.", "!! whisper-cli ended by signal 9 (clip 1s): no message"},
        // Text, but a status that says the run did not end well.
        {"exit=4", "Words.", "!! whisper-cli exit 4: no message"},
        {"mode=write", "caf\xe9", nullptr}, // not UTF-8
    };
    for (const auto& c : cases) {
        whisper.setControl(c.control);
        whisper.setTranscript(c.transcript);
        const auto before = log.messages().size();
        EXPECT_EQ(local(wav), std::nullopt) << c.control;
        EXPECT_EQ(log.messages().size(), before + 1);
        if (c.logged) {
            EXPECT_EQ(log.messages().back(), c.logged);
        }
    }
    // It exits 0 and leaves an empty file on a full disk (as root: a full tmpfs of one page).
    const test::SmallFileSystem disk(work.file("full"), 4096);
    if (disk.mounted()) {
        disk.fill();
        whisper.setControl("");
        EXPECT_EQ(runWhisperLocalPath(wav, work.file("full/out"), 10, 1, settings), std::nullopt);
        EXPECT_CONTAINS(log.text(), "!! whisper-cli could not write its text " +
                                        work.file("full/out.txt") +
                                        " (No space left on device) (clip 1s)");
    }
    settings.whisperCli = work.file("missing-whisper-cli");
    EXPECT_EQ(local(wav), std::nullopt);
    EXPECT_CONTAINS(log.text(), "!! whisper error: " + settings.whisperCli);
}

// On the real ffmpeg: the decoder gets a private conditioned copy (a colon in the name would be
// taken for a protocol without the "file:" prefix), deleted after the decode; a copy that cannot
// be made gives nothing and leaves nothing.
TEST_F(LocalDecode, ConditioningGivesAPrivateCopyOrNothingAndLeavesNothing) {
    settings.config.cloud = false;
    settings.config.useServer = false;
    settings.config.preprocess = true;
    settings.ffmpeg = "/usr/bin/ffmpeg";
    whisper.setTranscript("Words.");
    const std::string wav = clip("take:1.wav", 2);
    for (bool callMode : {false, true}) {
        settings.config.callMode = callMode;
        LogCapture log;
        EXPECT_EQ(runWhisper({wav, work.file("out")}, settings), "Words.");
        EXPECT_TRUE(whisper.calls().back().args.at(3).starts_with(work.file("vak_pp_")));
        EXPECT_EQ(conditionedCopiesLeft(), 0u);
        EXPECT_CONTAINS(log.text(), callMode ? "♪ conditioned audio (call chain) before decode"
                                             : "♪ conditioned audio (normal chain) before decode");
    }
    const auto copy = preprocessAudio(wav, 2, settings);
    ASSERT_TRUE(copy && findWavDataOffset(*copy)) << copy.value_or("nothing");
    EXPECT_EQ(filePermissions(*copy), 0600u);
    removeFile(*copy);

    // ffmpeg succeeds on 0.01 s, but 364 bytes are no usable recording; it fails on what is
    // not audio.
    writeFixture(work.file("garbage.wav"), std::string(5000, 'x'));
    const std::pair<std::string, const char*> failures[] = {
        {clip("tiny.wav", 0.01),
         R"(⚠️ preprocess failed \(status 0, \d+B\) — decoding raw clip)"},
        {work.file("garbage.wav"), R"(preprocess failed \(status [1-9]\d*, 0B\))"},
    };
    for (const auto& [failing, logged] : failures) {
        LogCapture log;
        EXPECT_EQ(preprocessAudio(failing, 0, settings), std::nullopt) << failing;
        EXPECT_EQ(conditionedCopiesLeft(), 0u);
        EXPECT_TRUE(regexSearch(log.text(), logged)) << log.text();
    }
}

} // namespace
} // namespace vak
