#include "base/regex.h"
#include "base/time_util.h"
#include "binary_fixture.h"
#include "support/expect_contains.h"
#include "tone_words.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::runVak;
using test::writeFixture;

// The fake whisper-cli hears tone words and is the only engine.
class ReplayModes : public test::SpeechBinaryTest {
  protected:
    ReplayModes() {
        whisper.setControl("source=tones");
        configure("");
    }
    void configure(const std::string& lines) const {
        userFile("config", "CLOUD=0\nSERVER=0\nPREPROCESS=0\n" + lines);
    }
    // Writes `spoken` as a WAV file; returns its path.
    std::string wavFile(const tone::Dictation& dictation, const std::string& name) {
        spoken = dictation;
        writeFixture(home.file(name), spoken.wavBytes());
        return home.file(name);
    }
    // A dictation of natural phrases.
    std::string dictationFile(double seconds, const std::string& name) {
        tone::DictationPlan plan;
        plan.seconds = seconds;
        plan.seed = 3;
        return wavFile(tone::makeDictation(plan), name);
    }

    tone::Dictation spoken;
};

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Both replays run the chunk engine's own timers on a virtual clock on which every decode takes
// its real time (the fake sleeps 0.3 s each): the summary counts the decodes the log shows, the
// decoder's busy time is theirs, a decode at the stop is waited for, every word comes back, and
// the replay takes less time than the audio lasts.
TEST_F(ReplayModes, ChunkAndSpecSimRunTheDaemonsTimersWithRealDecodeTimes) {
    whisper.setControl("source=tones\ndelay=0.3");
    const std::string wav = dictationFile(75, "clip.wav");
    for (const std::string mode : {"--chunk-sim", "--spec-sim"}) {
        SCOPED_TRACE(mode);
        const auto started = SteadyClock::now();
        const auto run = runVak({mode, wav}, options());
        const double took = secondsSince(started);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto firstLine = run.out.substr(0, run.out.find('\n'));
        const auto m = regexFirstMatch(
            firstLine,
            R"(^[A-Z]+-SIM: wait after stop = (\d+\.\d\d)s; (\d+) decoder calls \((\d+) )"
            R"(chunks, (\d+) pre-decoded, (\d+) at the stop\), decoder busy (\d+\.\d)s of )"
            R"((\d+\.\d)s \(\d+ %\)$)");
        ASSERT_TRUE(m) << run.out;
        const auto number = [&m](int group) { return std::stod(m->group(group)); };
        // A chunk the pre-decoded pieces cover wholly needs no decode of its own.
        const auto chunks = static_cast<double>(occurrences(run.err, " cached · "));
        EXPECT_GE(chunks, 2);
        if (mode == "--chunk-sim") {
            EXPECT_EQ(number(3), chunks);
        } else {
            EXPECT_LE(number(3), chunks);
        }
        EXPECT_EQ(number(4), occurrences(run.err, "] · tail pre-decoded during pause · "));
        EXPECT_EQ(number(5), occurrences(run.err, "] · tail decoded · "));
        EXPECT_EQ(number(2), number(3) + number(4) + number(5));
        EXPECT_EQ(number(4) > 0, mode == "--spec-sim");
        EXPECT_GE(number(6), 0.3 * number(2));
        if (number(5) > 0) {
            EXPECT_GE(number(1), 0.3);
        }
        EXPECT_NEAR(number(7), spoken.seconds(), 0.1);
        EXPECT_LT(took, spoken.seconds() / 2);
        EXPECT_EQ(tone::wordsOf(run.out.substr(firstLine.size())), tone::wordsOf(spoken.text()));
    }
    EXPECT_TRUE(scratchIsEmpty());
}

// Without a cache the daemon decodes the whole recording at the stop: the replays do too and
// report that wait, or say that it failed as well. 45 s of speech without a pause longer than
// a word's gap leaves nothing to pre-decode; its whole-file decode takes the slow decoder's 2 s.
TEST_F(ReplayModes, WithoutACacheTheSimsSayWhyAndWhatTheStopWaited) {
    struct Case {
        const char* mode;
        const char* config;
        const char* control;
        double seconds;
        bool pauses;
        int exitCode;
        const char* firstLine; // a pattern
        double minWait;
    };
    const std::string noCache =
        R"(CHUNK-SIM: no cache built \(clip shorter than a chunk, or a decode failed\))";
    const std::string whole = R"(; whole-file decode: wait after stop = (\d+\.\d\d)s; 1 decoder )"
                              R"(calls \(0 chunks, 0 pre-decoded, 0 at the stop, 1 of the whole )"
                              R"(recording\), decoder busy .*)";
    const std::string failedToo = ", and the whole-file decode failed too";
    const std::string shortClip = noCache + whole;
    const std::string chunkCrash = noCache + failedToo;
    const std::string specCrash = "SPEC-SIM: no cache — fell back" + failedToo;
    const std::string monologue = "SPEC-SIM: no cache — fell back" + whole;
    const Case cases[] = {
        {"--chunk-sim", "CHUNK_SECONDS=15\n", "source=tones", 60, true, 1,
         R"(CHUNK-SIM: chunking disabled \(CHUNK_SECONDS < 20\))", 0},
        {"--chunk-sim", "", "source=tones", 15, true, 2, shortClip.c_str(), 0},
        {"--chunk-sim", "", "mode=crash", 60, true, 2, chunkCrash.c_str(), 0},
        {"--spec-sim", "", "mode=crash", 20, true, 2, specCrash.c_str(), 0},
        {"--spec-sim", "", "source=tones\ndelay=2", 45, false, 2, monologue.c_str(), 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.config << c.control);
        configure(c.config);
        whisper.setControl(c.control);
        tone::DictationPlan plan;
        plan.seconds = c.seconds;
        plan.seed = 3;
        plan.pauses = c.pauses;
        const auto run =
            runVak({c.mode, wavFile(tone::makeDictation(plan), "clip.wav")}, options());
        EXPECT_EQ(run.exitCode, c.exitCode);
        const auto firstLine = run.out.substr(0, run.out.find('\n'));
        const auto m = regexFirstMatch(firstLine, std::string("^") + c.firstLine + "$");
        ASSERT_TRUE(m) << run.out;
        if (c.minWait > 0) {
            EXPECT_GE(std::stod(m->group(1)), c.minWait);
            EXPECT_EQ(tone::wordsOf(run.out.substr(firstLine.size())),
                      tone::wordsOf(spoken.text()));
        }
        EXPECT_TRUE(scratchIsEmpty());
    }
}

TEST_F(ReplayModes, CaptionSimNumbersItsCaptions) {
    tone::Dictation dictation;
    dictation.silence(0.3);
    dictation.say(std::vector<std::size_t>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                           10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    dictation.silence(0.8); // 8.3 s in all: passes at 2, 4, 6 and 8 s
    const std::string wav = wavFile(dictation, "short.wav");
    const auto run = runVak({"--caption-sim", wav}, options());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // The engine's timer runs a pass every 2 s; the window holds the whole clip, so the last
    // caption is all of it.
    const std::string last = "[4] ";
    ASSERT_TRUE(
        regexSearch(run.out, R"(^\[1\] [^\n]+\n\[2\] [^\n]+\n\[3\] [^\n]+\n\[4\] [^\n]+\n$)"))
        << run.out;
    EXPECT_EQ(tone::wordsOf(run.out.substr(run.out.find(last) + last.size())),
              tone::wordsOf(spoken.text()));
    EXPECT_TRUE(scratchIsEmpty());

    std::filesystem::remove(home.file(".whisper-models/ggml-base.en-q5_1.bin"));
    const auto missing = runVak({"--caption-sim", wav}, options());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "CAPTION-SIM: caption model missing\n");
}

TEST_F(ReplayModes, AMissingOrForeignFileCannotBeRead) {
    writeFixture(home.file("notes.wav"), "these are notes, not audio");
    for (const char* mode : {"--caption-sim", "--spec-sim", "--chunk-sim"}) {
        for (const auto& path : {home.file("missing.wav"), home.file("notes.wav")}) {
            const auto run = runVak({mode, path}, options());
            EXPECT_EQ(run.exitCode, 1) << mode << " " << path;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "cannot read " + path + "\n");
        }
    }
    EXPECT_TRUE(scratchIsEmpty());
}

} // namespace
} // namespace vak
