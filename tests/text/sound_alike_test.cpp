#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "text/sound_alike.h"

#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

TEST(EditDistance, CountsCharactersAsTheUserSeesThemAndCase) {
    const std::tuple<const char*, const char*, std::size_t> distances[] = {
        {"e\xcc\x81t\xc3\xa9", "et\xc3\xa9", 1},
        {"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd ok", "\xf0\x9f\x91\x8d ok", 1}, // a toned thumb
        {"caf\xc3\xa9", "CAF\xc3\x89", 4},
    };
    for (const auto& [a, b, distance] : distances)
        EXPECT_EQ(editDistance(a, b), distance) << a << " / " << b;
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
    test::TempDir dir;
    LearnedFiles files{dir.file("learned-words.txt"), dir.file(".variant-candidates")};
    SystemWords common = SystemWords::fromList("sun\nSet\ncat\nto\nuse\ndaily\n");
};

TEST_F(SoundAlike, CorrectsCloseWordsToEntriesButNotRealOrRightWords) {
    const struct {
        const char *dictionary, *text, *expected, *candidates;
    } cases[] = {
        {"Kubernetes|k8s\n", "does kubernetis? scale", "does Kubernetes? scale",
         "Kubernetes|kubernetis\n"},
        {"Postgres\n", "(postgress), then", "Postgres), then", "Postgres|postgress\n"},
        {"Cate\n", "the cat sat", "the cat sat", ""},       // a real word
        {"Dave\n", "ask dan now", "ask dan now", ""},       // two edits, but D500 is not D100
        {"GitHub\n", "on githab now", "on githab now", ""}, // three edits: capitals count
        // Split words merge unless both halves are real words.
        {"Kubernetes\n", "use kuber netes, today", "use Kubernetes, today",
         "Kubernetes|kuber netes\n"},
        {"Sunset\n", "the sun set late", "the sun set late", ""},
        {"Sunset\n", "the sun sett late", "the Sunset late", "Sunset|sun sett\n"},
        {"Vercel\n", "deploy to a Vercel a day", "deploy to a Vercel a day", ""},
        // Entries of several words match word by word.
        {"Fast Track\n", "go \"fast trak\" now", "go Fast Track\" now", "Fast Track|fast trak\n"},
        {"Fast Track\n", "go FAST TRACK now", "go FAST TRACK now", ""},
        {"C++\n", "in c+ today", "in C++ today", "C++|c+\n"},
        // Right apart from the punctuation the spelling carries, or another entry: no near miss.
        {"C#\n", "write c#, and C# code", "write c#, and C# code", ""},
        {"C#\nC++\n", "in C++ and C# today", "in C++ and C# today", ""},
        {"Fast Track\nFast Truck\n", "fast truck or fast track", "fast truck or fast track", ""},
    };
    for (const auto& c : cases) {
        writeFixture(files.candidates, "");
        EXPECT_EQ(correct(c.dictionary, c.text), c.expected);
        EXPECT_EQ(readFixture(files.candidates), c.candidates) << c.text;
    }
    common = SystemWords{};
    EXPECT_EQ(correct("Cate\n", "the cat sat"), "the Cate sat");
    EXPECT_TRUE(log.has(LogLevel::soundAlike, "sound-alike corrected to Postgres"));
    EXPECT_TRUE(log.has(LogLevel::soundAlike, "sound-alike corrected to Kubernetes (split word)"));
}

TEST_F(SoundAlike, TheSecondCorrectionTeachesTheDictionaryOnce) {
    EXPECT_EQ(correct("# my words\n\nPostgres\n\n", "postgress is up"), "Postgres is up");
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

TEST_F(SoundAlike, HugeInputsAreBounded) {
    // Many distinct near misses: each corrected, a bounded number noted and logged.
    std::string misses;
    for (int i = 0; i < 26 * 8; ++i) {
        std::string word = "postgres";
        word[static_cast<std::size_t>(i % 8)] = static_cast<char>('a' + i / 8);
        misses += word + " ";
    }
    const SoundAlikeCorrector postgres(parseLearnedWords("Postgres\n"));
    EXPECT_EQ(postgres.correct(misses, common).notes.size(), SoundAlikeCorrector::kMaxNotesPerText);
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
