#include "base/regex.h"
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

TEST_F(ReplayModes, ChunkSimPrintsEveryWordOfAFiveMinuteDictation) {
    const auto run = runVak({"--chunk-sim", dictationFile(300, "five.wav")}, options());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(tone::wordsOf(run.out), tone::wordsOf(spoken.text()));
    EXPECT_TRUE(regexSearch(run.err, R"(\] · chunk 9 cached · \d+s → \d+\.\ds decode\n)"));
    EXPECT_TRUE(
        regexSearch(run.err, R"(\] · tail decoded · \d+s → \d+\.\ds \(\d+ chunks pre-cached\)\n)"))
        << run.err;
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(ReplayModes, SpecSimFinishesAFiveMinuteDictationWithoutWaiting) {
    const auto run = runVak({"--spec-sim", dictationFile(300, "five.wav")}, options());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto firstLine = run.out.substr(0, run.out.find('\n'));
    const auto match = regexFirstMatch(
        firstLine,
        R"(^SPEC-SIM: spec decode ran \d+\.\ds BEFORE the tap; wait AFTER stop = (\d+\.\d\d)s$)");
    ASSERT_TRUE(match) << run.out;
    EXPECT_LT(std::stod(match->group(1)), 0.5);
    EXPECT_CONTAINS(run.err, "⚡ tail was pre-decoded — zero decode wait at stop\n");
    EXPECT_EQ(tone::wordsOf(run.out.substr(firstLine.size())), tone::wordsOf(spoken.text()));
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(ReplayModes, WithoutACacheTheSimsSayWhy) {
    struct Case {
        const char* mode;
        const char* config;
        const char* control;
        double seconds;
        int exitCode;
        const char* out;
    };
    const char* noCache =
        "CHUNK-SIM: no cache built (clip shorter than a chunk, or a decode failed)\n";
    const Case cases[] = {
        {"--chunk-sim", "CHUNK_SECONDS=15\n", "source=tones", 60, 1,
         "CHUNK-SIM: chunking disabled (CHUNK_SECONDS < 20)\n"},
        {"--chunk-sim", "", "source=tones", 15, 2, noCache},
        {"--chunk-sim", "", "mode=crash", 60, 2, noCache},
        {"--spec-sim", "", "mode=crash", 20, 2, "SPEC-SIM: no cache — fell back\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.config << c.control);
        configure(c.config);
        whisper.setControl(c.control);
        const auto run = runVak({c.mode, dictationFile(c.seconds, "clip.wav")}, options());
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(scratchIsEmpty());
    }
}

TEST_F(ReplayModes, CaptionSimNumbersItsCaptions) {
    tone::Dictation dictation;
    dictation.silence(0.3);
    dictation.say(std::vector<std::size_t>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                           10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    dictation.silence(0.5); // 8 s in all
    const std::string wav = wavFile(dictation, "short.wav");
    const auto run = runVak({"--caption-sim", wav}, options());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // One pass per 2 s of audio; the window holds the whole clip, so the last caption is all of
    // it.
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
