#include "base/files.h"
#include "support/temp_dir.h"
#include "text/learned_words.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

class LearnedWords : public testing::Test {
  protected:
    test::TempDir dir;
    LearnedFiles files{dir.file("learned-words.txt"), dir.file(".variant-candidates")};
};

TEST_F(LearnedWords, ParsesEntriesAndSkipsWhatIsNotOneOrWhatCannotBeRead) {
    const auto words = parseLearnedWords("# One per line.\r\n"
                                         "\n"
                                         "  Kubernetes | cooper netties , kuber nets \r\n"
                                         "Postgres|\r\n"
                                         "|orphan variant\n"
                                         "Claude Code|clawed code,, ,Cloud Code,\n"
                                         "a|b|c\n"
                                         "Anouk");
    const std::vector<LearnedWord> expected = {
        {"Kubernetes", {"cooper netties", "kuber nets"}},
        {"Postgres", {}},
        {"Claude Code", {"clawed code", "Cloud Code"}},
        {"a", {"b|c"}},
        {"Anouk", {}},
    };
    EXPECT_EQ(words, expected);
    EXPECT_TRUE(loadLearnedWords(dir.file("missing")).empty());
    writeFixture(files.words, "Caf\xe9|cafe\n");
    EXPECT_TRUE(loadLearnedWords(files.words).empty());
}

TEST_F(LearnedWords, PromotionAppendsToTheFirstMatchingLineOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"Postgres\n", "Postgres|postgress\n"},
        {"# comment\n\n  Postgres | pg \nPostgres|x\n\n",
         "# comment\n\nPostgres| pg ,postgress\nPostgres|x\n\n"},
        {"Postgres|pg\r\nOther\r\n", "Postgres|pg,postgress\r\nOther\r\n"},
        // Already there in any case or spacing, or no line with the exact spelling: unchanged.
        {"Postgres|pg, PostGress \n", "Postgres|pg, PostGress \n"},
        {"postgres|pg\n#Postgres\n", "postgres|pg\n#Postgres\n"},
    };
    for (const auto& [before, after] : cases) {
        writeFixture(files.words, before);
        promoteVariant("postgress", "Postgres", files);
        EXPECT_EQ(readFixture(files.words), after) << before;
    }
}

TEST_F(LearnedWords, FirstSightingIsACandidateSecondIsAVariant) {
    writeFixture(files.words, "# words\nPostgres|pg sql\n\nKubernetes\n");
    writeFixture(files.candidates, "Kubernetes|kuber nets\r\n\n");
    recordVariantNotes({{"postgress", "Postgres"}}, files);
    EXPECT_EQ(readFixture(files.candidates), "Kubernetes|kuber nets\nPostgres|postgress\n");
    EXPECT_EQ(readFixture(files.words), "# words\nPostgres|pg sql\n\nKubernetes\n");
    EXPECT_EQ(filePermissions(files.candidates), 0600u);

    recordVariantNotes({{"postgress", "Postgres"}, {"kuber nets", "Kubernetes"}}, files);
    EXPECT_EQ(readFixture(files.candidates), "");
    EXPECT_EQ(readFixture(files.words),
              "# words\nPostgres|pg sql,postgress\n\nKubernetes|kuber nets\n");
    EXPECT_EQ(filePermissions(files.words), 0600u);

    // Forms that would break a line are not remembered.
    for (const char* variant : {"post,gress", "post\ngress", "post\rgress", ""})
        recordVariantNotes({{variant, "Postgres"}, {variant, "Postgres", 2}}, files);
    EXPECT_EQ(readFixture(files.candidates), "");
    EXPECT_EQ(readFixture(files.words),
              "# words\nPostgres|pg sql,postgress\n\nKubernetes|kuber nets\n");
}

TEST_F(LearnedWords, TheCandidatesKeepOnlyTheNewestLinesAndAreNeverForced) {
    writeFixture(files.words, "Postgres\n");
    std::string old;
    for (std::size_t i = 0; i < kMaxVariantCandidates + 100; ++i)
        old += "Postgres|old" + std::to_string(i) + "\n";
    writeFixture(files.candidates, old);
    recordVariantNotes({{"postgress", "Postgres"}}, files);
    const std::string kept = readFixture(files.candidates);
    EXPECT_EQ(static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\n')),
              kMaxVariantCandidates);
    EXPECT_TRUE(kept.starts_with("Postgres|old101\n"));
    EXPECT_TRUE(kept.ends_with("Postgres|postgress\n"));

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

TEST_F(LearnedWords, ALinkedDictionaryStaysALinkAndItsTargetLearns) {
    writeFixture(dir.file("dotfiles-words"), "Postgres\n");
    std::filesystem::create_symlink(dir.file("dotfiles-words"), files.words);
    recordVariantNotes({{"postgress", "Postgres", 2}}, files);
    EXPECT_TRUE(std::filesystem::is_symlink(files.words));
    EXPECT_EQ(readFixture(dir.file("dotfiles-words")), "Postgres|postgress\n");
}

TEST_F(LearnedWords, ConcurrentCorrectionsLoseNoUpdate) {
    writeFixture(files.words, "Postgres\n");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 30; ++i)
                recordVariantNotes(
                    {{"v" + std::to_string(t) + "x" + std::to_string(i % 15), "Postgres"}}, files);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(readFixture(files.candidates), "");
    const auto words = loadLearnedWords(files.words);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].variants.size(), 4u * 15u);
}

} // namespace
} // namespace vak
