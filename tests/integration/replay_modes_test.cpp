#include "base/regex.h"
#include "support/run_binary.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "tone_words.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::BinaryOptions;
using test::runVak;
using test::writeFixture;

// The binary with a private HOME and scratch folder, the fake whisper-cli hearing tone words as
// the only engine, and both models in place.
class ReplayModes : public testing::Test {
  protected:
    ReplayModes() {
        std::filesystem::create_directories(home.file(".whisper-models"));
        std::filesystem::create_directories(home.file(".dictation"));
        std::filesystem::create_directories(home.file("scratch"));
        writeFixture(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"), "model");
        writeFixture(home.file(".whisper-models/ggml-base.en-q5_1.bin"), "model");
        whisper.setControl("source=tones");
        configure("");
    }
    void configure(const std::string& lines) const {
        writeFixture(home.file(".dictation/config"), "CLOUD=0\nSERVER=0\nPREPROCESS=0\n" + lines);
    }
    // A dictation of natural phrases, written as a WAV file; returns its path.
    std::string dictationFile(double seconds, const std::string& name) {
        tone::DictationPlan plan;
        plan.seconds = seconds;
        plan.seed = 3;
        spoken = tone::makeDictation(plan);
        writeFixture(home.file(name), spoken.wavBytes());
        return home.file(name);
    }
    BinaryOptions options() const {
        BinaryOptions o;
        o.env["HOME"] = home.path();
        o.env["VAK_TMPDIR"] = home.file("scratch");
        o.env["VAK_TOOL_PATH"] = whisper.dir();
        o.env["VAK_WHISPER_SERVER_URL"] = test::deadUrl("/inference");
        o.timeoutSeconds = 120;
        return o;
    }
    bool scratchIsEmpty() const { return std::filesystem::is_empty(home.file("scratch")); }

    test::TempDir home;
    test::FakeWhisper whisper;
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
    EXPECT_NE(run.err.find("⚡ tail was pre-decoded — zero decode wait at stop\n"),
              std::string::npos);
    EXPECT_EQ(tone::wordsOf(run.out.substr(firstLine.size())), tone::wordsOf(spoken.text()));
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(ReplayModes, ChunkSimWithoutACacheSaysWhy) {
    struct Case {
        const char* config;
        const char* control;
        double seconds;
        int exitCode;
        const char* out;
    };
    const Case cases[] = {
        {"CHUNK_SECONDS=15\n", "source=tones", 60, 1,
         "CHUNK-SIM: chunking disabled (CHUNK_SECONDS < 20)\n"},
        {"", "source=tones", 15, 2,
         "CHUNK-SIM: no cache built (clip shorter than a chunk, or a decode failed)\n"},
        {"", "mode=crash", 60, 2,
         "CHUNK-SIM: no cache built (clip shorter than a chunk, or a decode failed)\n"},
    };
    for (const auto& c : cases) {
        configure(c.config);
        whisper.setControl(c.control);
        const auto run = runVak({"--chunk-sim", dictationFile(c.seconds, "clip.wav")}, options());
        EXPECT_EQ(run.exitCode, c.exitCode) << c.config << c.control;
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(scratchIsEmpty());
    }
}

TEST_F(ReplayModes, SpecSimWithAFailingDecoderFallsBack) {
    whisper.setControl("mode=crash");
    const auto run = runVak({"--spec-sim", dictationFile(20, "clip.wav")}, options());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "SPEC-SIM: no cache — fell back\n");
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(ReplayModes, CaptionSimNumbersItsCaptions) {
    spoken = tone::Dictation();
    spoken.silence(0.3);
    std::vector<std::size_t> words;
    for (std::size_t i = 0; i < 20; ++i)
        words.push_back(i);
    spoken.say(words);
    spoken.silence(0.5); // 8 s in all
    const std::string wav = home.file("short.wav");
    writeFixture(wav, spoken.wavBytes());
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
