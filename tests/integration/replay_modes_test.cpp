#include "base/regex.h"
#include "base/time_util.h"
#include "binary_fixture.h"
#include "support/expect_contains.h"
#include "tone_words.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::runVak;

// The fake whisper-cli hears tone words and is the only engine.
class ReplayModes : public test::SpeechBinaryTest {
  protected:
    ReplayModes() {
        whisper.setControl("source=tones");
        userFile("config", "CLOUD=0\nSERVER=0\nPREPROCESS=0\n");
    }
    // Replays a dictation of natural phrases from a WAV file in `mode`.
    test::BinaryRun replay(const std::string& mode, double seconds, bool pauses = true) {
        tone::DictationPlan plan;
        plan.seconds = seconds;
        plan.seed = 3;
        plan.pauses = pauses;
        spoken = tone::makeDictation(plan);
        test::writeFixture(home.file("clip.wav"), spoken.wavBytes());
        return runVak({mode, home.file("clip.wav")}, options());
    }
    // The words of the text after a summary line.
    static std::vector<std::string> words(const std::string& out) {
        return tone::wordsOf(out.substr(out.find('\n')));
    }

    tone::Dictation spoken;
};

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Both replays run the chunk engine's timers on a virtual clock on which each decode takes its real
// 0.3 s: the summary counts the decodes the log shows, the busy time is theirs, a decode at the
// stop is waited for, every word comes back, and the replay is quicker than the audio.
TEST_F(ReplayModes, ChunkAndSpecSimRunTheDaemonsTimersWithRealDecodeTimes) {
    whisper.setControl("source=tones\ndelay=0.3");
    for (const std::string mode : {"--chunk-sim", "--spec-sim"}) {
        SCOPED_TRACE(mode);
        const auto started = SteadyClock::now();
        const auto run = replay(mode, 75);
        const double took = secondsSince(started);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto m = regexFirstMatch(
            run.out.substr(0, run.out.find('\n')),
            R"(^[A-Z]+-SIM: wait after stop = (\d+\.\d\d)s; (\d+) decoder calls \((\d+) )"
            R"(chunks, (\d+) pre-decoded, (\d+) at the stop\), decoder busy (\d+\.\d)s of )"
            R"((\d+\.\d)s \(\d+ %\)$)");
        ASSERT_TRUE(m) << run.out;
        const auto number = [&m](int group) { return std::stod(m->group(group)); };
        const auto chunks = static_cast<double>(occurrences(run.err, " cached · "));
        EXPECT_TRUE(mode == "--chunk-sim" ? number(3) == chunks : number(3) <= chunks);
        EXPECT_EQ(number(4), occurrences(run.err, "] · tail pre-decoded during pause · "));
        EXPECT_EQ(number(5), occurrences(run.err, "] · tail decoded · "));
        EXPECT_EQ(number(2), number(3) + number(4) + number(5));
        EXPECT_EQ(number(4) > 0, mode == "--spec-sim");
        EXPECT_GE(number(6), 0.3 * number(2));
        EXPECT_GE(number(1), number(5) > 0 ? 0.3 : 0);
        EXPECT_LT(took, spoken.seconds() / 2);
        EXPECT_EQ(words(run.out), tone::wordsOf(spoken.text()));
    }
    EXPECT_TRUE(scratchIsEmpty());
}

// Without a cache the daemon decodes the whole recording at the stop: the replays do too and
// report that wait, or say that it failed as well (exit status 2). 45 s of speech without a pause
// longer than a word's gap leaves nothing to pre-decode; its whole-file decode takes the slow
// decoder's 2 s.
TEST_F(ReplayModes, WithoutACacheTheSimsSayWhyAndWhatTheStopWaited) {
    struct Case {
        const char* mode;
        const char* control;
        double seconds;
        bool pauses;
        std::string firstLine; // a pattern
        double minWait;
    };
    const std::string noCache =
        R"(CHUNK-SIM: no cache built \(clip shorter than a chunk, or a decode failed\))";
    const std::string whole = R"(; whole-file decode: wait after stop = (\d+\.\d\d)s; 1 decoder )"
                              R"(calls \(0 chunks, 0 pre-decoded, 0 at the stop, 1 of the whole )"
                              R"(recording\), decoder busy .*)";
    const std::string failedToo = ", and the whole-file decode failed too";
    const std::string fellBack = "SPEC-SIM: no cache — fell back";
    const Case cases[] = {
        {"--chunk-sim", "source=tones", 15, true, noCache + whole, 0},
        {"--chunk-sim", "mode=crash", 60, true, noCache + failedToo, 0},
        {"--spec-sim", "mode=crash", 20, true, fellBack + failedToo, 0},
        {"--spec-sim", "source=tones\ndelay=2", 45, false, fellBack + whole, 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.control);
        whisper.setControl(c.control);
        const auto run = replay(c.mode, c.seconds, c.pauses);
        EXPECT_EQ(run.exitCode, 2);
        const auto m =
            regexFirstMatch(run.out.substr(0, run.out.find('\n')), "^" + c.firstLine + "$");
        ASSERT_TRUE(m) << run.out;
        if (c.minWait > 0) {
            EXPECT_GE(std::stod(m->group(1)), c.minWait);
            EXPECT_EQ(words(run.out), tone::wordsOf(spoken.text()));
        }
        EXPECT_TRUE(scratchIsEmpty());
    }
}

// The captions themselves are the caption engine's business; without its model, or with a file
// that is no recording, a replay says so.
TEST_F(ReplayModes, ASimSaysWhyItCannotRun) {
    test::writeFixture(home.file("notes.wav"), "these are notes, not audio");
    for (const char* mode : {"--caption-sim", "--spec-sim", "--chunk-sim"}) {
        const auto refused = runVak({mode, home.file("notes.wav")}, options());
        EXPECT_EQ(refused.exitCode, 1) << mode;
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err, "cannot read " + home.file("notes.wav") + "\n");
    }
    test::writeFixture(home.file("clip.wav"), test::toneWav(2));
    std::filesystem::remove(home.file(".whisper-models/ggml-base.en-q5_1.bin"));
    const auto noModel = runVak({"--caption-sim", home.file("clip.wav")}, options());
    EXPECT_EQ(noModel.exitCode, 1);
    EXPECT_EQ(noModel.out, "CAPTION-SIM: caption model missing\n");
    EXPECT_TRUE(scratchIsEmpty());
}

} // namespace
} // namespace vak
