// The tone-word speech the engine tests rely on: if it misheard, their word-for-word checks
// would prove nothing.
#include "support/temp_dir.h"
#include "tone_words.h"

#include <numeric>

#include <gtest/gtest.h>

namespace vak {
namespace {

std::vector<std::string> heardIn(const tone::Dictation& dictation, std::size_t first,
                                 std::size_t end) {
    return tone::hear(std::span(dictation.samples()).subspan(first, end - first));
}

TEST(ToneWords, EveryWordIsHeardAndACutThroughOneShowsOnBothSides) {
    tone::Dictation all;
    all.silence(0.2);
    std::vector<std::size_t> indices(tone::vocabulary().size());
    std::iota(indices.begin(), indices.end(), 0);
    all.say(indices);
    EXPECT_EQ(tone::hear(all.samples()),
              std::vector<std::string>(tone::vocabulary().begin(), tone::vocabulary().end()));

    // A cut in the gap after word 3 leaves whole words; one through word 3 marks both halves.
    const auto& word3 = all.words()[3];
    const std::size_t gap = word3.endSample + 800;
    EXPECT_EQ(heardIn(all, 0, gap).back(), tone::vocabulary()[3]);
    EXPECT_EQ(heardIn(all, gap, all.samples().size()).front(), tone::vocabulary()[4]);
    const std::size_t middle = (word3.firstSample + word3.endSample) / 2;
    EXPECT_EQ(heardIn(all, 0, middle).back(), std::string(tone::vocabulary()[3]) + "~");
    EXPECT_EQ(heardIn(all, middle, all.samples().size()).front(),
              std::string(tone::vocabulary()[3]) + "~");
    EXPECT_EQ(tone::transcriptOf(std::span(all.samples()).first(3000)), "[BLANK_AUDIO]\n");
}

// The engine tests count on these: exact figures need a repeatable dictation, the chunk cuts
// long pauses; and a wordsOf that lost words would let every word-for-word comparison pass. (A
// monologue with pauses would show as a missing hard cut in the chunk test.)
TEST(ToneWords, DictationsAreRepeatableFilesReadBackAndTextSplitsIntoWords) {
    tone::DictationPlan plan;
    plan.seconds = 60;
    plan.seed = 42;
    const auto a = tone::makeDictation(plan);
    EXPECT_EQ(a.samples(), tone::makeDictation(plan).samples());
    EXPECT_GE(a.seconds(), 60.0);
    EXPECT_EQ(tone::hear(a.samples()), tone::wordsOf(a.text()));
    double longestPause = 0;
    for (std::size_t i = 1; i < a.words().size(); ++i) {
        EXPECT_NE(a.words()[i].word, a.words()[i - 1].word);
        longestPause = std::max(longestPause, static_cast<double>(a.words()[i].firstSample -
                                                                  a.words()[i - 1].endSample) /
                                                  tone::kSampleRate);
    }
    EXPECT_GE(longestPause, 3.0);

    test::TempDir dir;
    test::writeFixture(dir.file("a.wav"), a.wavBytes());
    EXPECT_EQ(tone::readWavSamples(dir.file("a.wav")), a.samples());
    test::writeFixture(dir.file("b.wav"), "not a wav file at all, just text");
    EXPECT_EQ(tone::readWavSamples(dir.file("b.wav")), std::nullopt);
    EXPECT_EQ(tone::wordsOf("[BLANK_AUDIO]\nApple river.\nStone~, garden"),
              (std::vector<std::string>{"apple", "river", "stone~", "garden"}));
}

} // namespace
} // namespace vak
