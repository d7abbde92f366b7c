#include "support/temp_dir.h"
#include "text/learned_words.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

TEST(LearnedWords, ParsesEntriesAndSkipsWhatIsNotOneOrWhatCannotBeRead) {
    const auto words = parseLearnedWords("# One per line.\r\n"
                                         "\n"
                                         "  Kubernetes | cooper netties , kuber nets \r\n"
                                         "Postgres|\n"
                                         "GitHub\n"
                                         "   # indented comment|x\n"
                                         "|orphan variant\n"
                                         "Claude Code|clawed code,, ,Cloud Code,\n"
                                         "a|b|c\n"
                                         "Anouk");
    const std::vector<LearnedWord> expected = {
        {"Kubernetes", {"cooper netties", "kuber nets"}}, {"Postgres", {}}, {"GitHub", {}},
        {"Claude Code", {"clawed code", "Cloud Code"}},   {"a", {"b|c"}},   {"Anouk", {}},
    };
    EXPECT_EQ(words, expected);
    EXPECT_TRUE(parseLearnedWords("").empty());
    EXPECT_TRUE(parseLearnedWords("\n\n \t\n#\n").empty());

    TempDir dir;
    EXPECT_TRUE(loadLearnedWords(dir.file("missing")).empty());
    writeFixture(dir.file("latin1"), "Caf\xe9|cafe\n");
    EXPECT_TRUE(loadLearnedWords(dir.file("latin1")).empty());
}

class Dictionary : public testing::Test {
  protected:
    TempDir dir;
    LearnedFiles files{dir.file("learned-words.txt"), dir.file(".variant-candidates")};
};

TEST_F(Dictionary, PromotionAppendsToTheFirstMatchingLineOnly) {
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"Postgres|\n", "Postgres|postgress\n"},
        {"Postgres|pg sql", "Postgres|pg sql,postgress"},
        {"Postgres\n", "Postgres|postgress\n"},
        {"# comment\n\n  Postgres | pg \nPostgres|x\n\n",
         "# comment\n\nPostgres| pg ,postgress\nPostgres|x\n\n"},
        {"Postgres|pg\r\nOther\r\n", "Postgres|pg,postgress\r\nOther\r\n"},
        // Already there, in any case or spacing: nothing changes.
        {"Postgres|pg, PostGress \n", "Postgres|pg, PostGress \n"},
        // No line for the canonical spelling (exact case): nothing changes.
        {"postgres|pg\n#Postgres\n", "postgres|pg\n#Postgres\n"},
    };
    for (const Case& c : cases) {
        writeFixture(files.words, c.before);
        promoteVariant("postgress", "Postgres", files);
        EXPECT_EQ(readFixture(files.words), c.after) << c.before;
    }
}

TEST_F(Dictionary, FilesThatCannotBeReadAreLeftAlone) {
    promoteVariant("postgress", "Postgres", files);
    EXPECT_FALSE(std::ifstream(files.words).good());

    const std::string latin1 = "Caf\xe9|cafe\nPostgres\n";
    writeFixture(files.words, latin1);
    promoteVariant("postgress", "Postgres", files);
    EXPECT_EQ(readFixture(files.words), latin1);

    const std::string damaged = "Postgres|pg\xff\n";
    writeFixture(files.candidates, damaged);
    recordVariantNotes({{"postgress", "Postgres"}}, files);
    EXPECT_EQ(readFixture(files.candidates), damaged);

    // A FIFO in place of a file neither blocks nor is replaced.
    std::filesystem::remove(files.candidates);
    ASSERT_EQ(::mkfifo(files.candidates.c_str(), 0600), 0);
    recordVariantNotes({{"postgress", "Postgres"}}, files);
    EXPECT_TRUE(std::filesystem::is_fifo(files.candidates));
}

TEST_F(Dictionary, ALinkedDictionaryStaysALinkAndItsTargetLearns) {
    const std::string target = dir.file("dotfiles-words");
    writeFixture(target, "Postgres\n");
    std::filesystem::create_symlink(target, files.words);
    recordVariantNotes({{"postgress", "Postgres", 2}}, files);
    EXPECT_TRUE(std::filesystem::is_symlink(files.words));
    EXPECT_EQ(readFixture(target), "Postgres|postgress\n");
}

TEST_F(Dictionary, FirstSightingIsACandidateSecondIsAVariant) {
    writeFixture(files.words, "# words\nPostgres|pg sql\n\nKubernetes\n");
    writeFixture(files.candidates, "Kubernetes|kuber nets\r\n\n");
    recordVariantNotes({{"postgress", "Postgres"}}, files);
    EXPECT_EQ(readFixture(files.candidates), "Kubernetes|kuber nets\nPostgres|postgress\n");
    EXPECT_EQ(readFixture(files.words), "# words\nPostgres|pg sql\n\nKubernetes\n");
    struct stat st {};
    ASSERT_EQ(stat(files.candidates.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    recordVariantNotes({{"postgress", "Postgres"}}, files);
    EXPECT_EQ(readFixture(files.candidates), "Kubernetes|kuber nets\n");
    EXPECT_EQ(readFixture(files.words), "# words\nPostgres|pg sql,postgress\n\nKubernetes\n");
    ASSERT_EQ(stat(files.words.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    recordVariantNotes({{"kuber nets", "Kubernetes"}}, files);
    EXPECT_EQ(readFixture(files.candidates), "");
    EXPECT_EQ(readFixture(files.words),
              "# words\nPostgres|pg sql,postgress\n\nKubernetes|kuber nets\n");
}

TEST_F(Dictionary, TheCandidatesKeepOnlyTheNewestLines) {
    writeFixture(files.words, "Postgres\n");
    std::string old;
    for (std::size_t i = 0; i < kMaxVariantCandidates + 100; ++i)
        old += "Postgres|old" + std::to_string(i) + "\n";
    writeFixture(files.candidates, old);
    recordVariantNotes({{"postgress", "Postgres"}}, files);
    const std::string kept = readFixture(files.candidates);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'),
              static_cast<std::ptrdiff_t>(kMaxVariantCandidates));
    EXPECT_TRUE(kept.starts_with("Postgres|old101\n"));
    EXPECT_TRUE(kept.ends_with("Postgres|postgress\n"));
}

TEST_F(Dictionary, FormsThatWouldBreakALineAreNotRemembered) {
    writeFixture(files.words, "Postgres\n");
    for (const char* variant : {"post,gress", "post\ngress", "post\rgress", ""}) {
        recordVariantNotes({{variant, "Postgres"}, {variant, "Postgres", 2}}, files);
    }
    EXPECT_FALSE(std::ifstream(files.candidates).good());
    EXPECT_EQ(readFixture(files.words), "Postgres\n");
}

TEST_F(Dictionary, ConcurrentCorrectionsLoseNoUpdate) {
    writeFixture(files.words, "Postgres\n");
    constexpr int kThreads = 4;
    constexpr int kVariants = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int round = 0; round < 2; ++round) {
                for (int v = 0; v < kVariants; ++v)
                    recordVariantNotes(
                        {{"v" + std::to_string(t) + "x" + std::to_string(v), "Postgres"}}, files);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(readFixture(files.candidates), "");
    const auto words = loadLearnedWords(files.words);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].variants.size(), static_cast<std::size_t>(kThreads * kVariants));
}

} // namespace
} // namespace vak
