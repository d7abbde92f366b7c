#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "text/sound_alike.h"

#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

TEST(Soundex, KeysFollowTheStandardClasses) {
    const std::pair<const char*, const char*> cases[] = {
        {"Robert", "R163"},    {"Ashcraft", "A261"}, {"Tymczak", "T522"},
        {"Pfister", "P236"},   {"Honeyman", "H555"}, {"Postgres", "P232"},
        {"postgress", "P232"}, {"o'brien", "O165"},  {"", ""},
        {"123 !", ""},
    };
    for (const auto& [word, key] : cases)
        EXPECT_EQ(soundexKey(word), key) << word;
}

TEST(EditDistance, CountsUserPerceivedCharactersCaseSensitively) {
    struct Case {
        std::string a, b;
        std::size_t distance;
    };
    const Case cases[] = {
        {"kitten", "sitting", 3},
        {"", "abc", 3},
        {"GitHub", "githab", 3},
        {"Postgres", "postgress", 2},
        {"ab", "ba", 2},
        {"e\xcc\x81t\xc3\xa9", "et\xc3\xa9", 1}, // e + combining accent is one
        {"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd ok", "\xf0\x9f\x91\x8d ok", 1}, // so is a toned thumb
        {"caf\xc3\xa9", "CAF\xc3\x89", 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(editDistance(c.a, c.b), c.distance) << c.a << " / " << c.b;
}

TEST(WordsSoundClose, CaseEqualityOneEditOrTwoWithTheSameKey) {
    EXPECT_TRUE(wordsSoundClose("POSTGRES", "postgres"));     // equal ignoring case
    EXPECT_TRUE(wordsSoundClose("Tom", "Tim"));               // one edit
    EXPECT_TRUE(wordsSoundClose("Postgres", "postgress"));    // two edits, P232 both
    EXPECT_TRUE(wordsSoundClose("Kubernetes", "kubernetis")); // two edits, K165 both
    EXPECT_FALSE(wordsSoundClose("Dave", "Dan"));             // two edits, D100 / D500
    EXPECT_FALSE(wordsSoundClose("GitHub", "githab"));        // three: capitals count
    EXPECT_FALSE(wordsSoundClose("", "ab"));
}

class SoundAlike : public testing::Test {
  protected:
    std::string correct(const std::string& dictionary, std::string_view text) {
        writeFixture(files.words, dictionary);
        const SoundAlikeCorrector corrector(loadLearnedWords(files.words));
        SoundAlikeResult result = corrector.correct(text, common);
        recordVariantNotes(result.notes, files);
        return result.text;
    }
    test::LogCapture log;
    TempDir dir;
    LearnedFiles files{dir.file("learned-words.txt"), dir.file(".variant-candidates")};
    SystemWords common = SystemWords::fromList("sun\nSet\ncat\nto\nuse\ndaily\n");
};

TEST_F(SoundAlike, CorrectsCloseWordsKeepingTrailingPunctuation) {
    EXPECT_EQ(correct("Postgres\n", "we use postgress daily"), "we use Postgres daily");
    EXPECT_NE(log.text().find("] ≈ sound-alike corrected to Postgres\n"), std::string::npos);
    EXPECT_EQ(correct("Kubernetes|k8s\n", "does kubernetis? scale"), "does Kubernetes? scale");
    EXPECT_EQ(correct("Postgres\n", "(postgress), then"), "Postgres), then");
    EXPECT_EQ(correct("Postgres\n", "use  postgress  daily "), "use  Postgres  daily ");
    EXPECT_EQ(correct("GitHub\n", "on githab now"), "on githab now");
    EXPECT_EQ(correct("", "we use postgress daily"), "we use postgress daily");
}

TEST_F(SoundAlike, RealWordsAreNeverReplacedByOneWordEntries) {
    EXPECT_EQ(correct("Cate\n", "the cat sat"), "the cat sat");
    common = SystemWords{};
    EXPECT_EQ(correct("Cate\n", "the cat sat"), "the Cate sat");
}

TEST_F(SoundAlike, SplitWordsMergeUnlessBothHalvesAreRealWords) {
    EXPECT_EQ(correct("Kubernetes\n", "we use kuber netes, today"), "we use Kubernetes, today");
    EXPECT_NE(log.text().find("≈ sound-alike corrected to Kubernetes (split word)\n"),
              std::string::npos);
    EXPECT_EQ(readFixture(files.candidates), "Kubernetes|kuber netes\n");
    EXPECT_EQ(correct("Sunset\n", "the sun set late"), "the sun set late");
    EXPECT_EQ(correct("Sunset\n", "the sun sett late"), "the Sunset late");
    // A word that is already the entry does not swallow its neighbour.
    EXPECT_EQ(correct("Vercel\n", "deploy to a Vercel a day"), "deploy to a Vercel a day");
}

TEST_F(SoundAlike, MultiWordEntriesMatchWordByWord) {
    EXPECT_EQ(correct("Fast Track\n", "go fast trak. now"), "go Fast Track. now");
    EXPECT_EQ(readFixture(files.candidates), "Fast Track|fast trak\n");
    EXPECT_EQ(correct("Fast Track\n", "go \"fast trak\" now"), "go Fast Track\" now");
    EXPECT_EQ(correct("Fast Track\n", "fast trak fast trak"), "Fast Track Fast Track");
    // Already right: left alone and not remembered.
    writeFixture(files.candidates, "");
    EXPECT_EQ(correct("Fast Track\n", "go FAST TRACK now"), "go FAST TRACK now");
    EXPECT_EQ(readFixture(files.candidates), "");
    EXPECT_EQ(correct("Fast Track\n", "fast"), "fast"); // fewer tokens than words
}

TEST_F(SoundAlike, TheSecondCorrectionTeachesTheDictionaryOnce) {
    // The candidate and promotion files themselves are covered by the learned-words tests.
    const std::string dictionary = "# my words\n\nPostgres\n\n";
    EXPECT_EQ(correct(dictionary, "postgress is up"), "Postgres is up");
    EXPECT_EQ(readFixture(files.candidates), "Postgres|postgress\n");
    EXPECT_EQ(correct(readFixture(files.words), "postgress is down"), "Postgres is down");
    EXPECT_EQ(readFixture(files.words), "# my words\n\nPostgres|postgress\n\n");
    EXPECT_NE(log.text().find("· dictionary taught itself a new spelling for Postgres\n"),
              std::string::npos);

    // A text repeating a form teaches it once.
    EXPECT_EQ(correct("Postgres\n", "postgress and postgress, then postgress"),
              "Postgres and Postgres, then Postgres");
    EXPECT_EQ(readFixture(files.words), "Postgres|postgress\n");
    EXPECT_EQ(readFixture(files.candidates), "");
}

TEST_F(SoundAlike, MetacharactersAndHugeInputsAreHarmless) {
    EXPECT_EQ(correct("C++\n", "in c+ today"), "in C++ today");
    EXPECT_EQ(correct("Yahoo!\n", "try yahooo!, now"), "try Yahoo!, now");
    writeFixture(files.candidates, "");
    // Written right apart from the punctuation the spelling carries: not a near miss of itself.
    EXPECT_EQ(correct("C#\n", "write c#, and C# code"), "write c#, and C# code");
    // Nor is a word that is another entry of the dictionary.
    EXPECT_EQ(correct("C#\nC++\n", "in C++ and C# today"), "in C++ and C# today");
    EXPECT_EQ(correct("Fast Track\nFast Truck\n", "fast truck or fast track"),
              "fast truck or fast track");
    EXPECT_EQ(readFixture(files.candidates), "");
    // Many distinct near misses: each corrected, a bounded number noted and logged, and the
    // files written once for the whole text.
    std::string misses;
    for (int i = 0; i < 26 * 8; ++i) {
        std::string word = "postgres";
        word[static_cast<std::size_t>(i % 8)] = static_cast<char>('a' + i / 8);
        misses += word + " ";
    }
    const SoundAlikeCorrector postgres(parseLearnedWords("Postgres\n"));
    const SoundAlikeResult result = postgres.correct(misses, common);
    EXPECT_EQ(result.notes.size(), SoundAlikeCorrector::kMaxNotesPerText);
    EXPECT_TRUE(log.has(LogLevel::soundAlike, "more sound-alike corrections"));

    std::string loop;
    for (int i = 0; i < 100000; ++i)
        loop += "kuber netes ";
    const std::string corrected = correct("Kubernetes\nFast Track\n", loop);
    EXPECT_EQ(corrected.substr(0, 22), "Kubernetes Kubernetes ");
    EXPECT_EQ(corrected.size(), 100000u * 11);
}

} // namespace
} // namespace vak
