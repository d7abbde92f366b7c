#include "base/files.h"
#include "support/temp_dir.h"
#include "text/mode_rules.h"

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;
using Rules = std::vector<ModeRule>;

constexpr std::string_view kHeader =
    "# Your mode keywords. One per line: section: phrase = weight\n"
    "# Sections: goal, constraint, done, context. Managed from Settings.\n";

std::size_t entriesIn(const std::string& folder) {
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++entries;
    return entries;
}

TEST(ModeRulesFile, ReadsEveryWellFormedLine) {
    EXPECT_EQ(parseModeRules("constraint: staging database = 3\n"
                             "done: ship it\n"
                             "goal: 50% = faster\n"
                             "  Context :  the old repo  =  2.5  \n"
                             "GOAL: a: b = -1\n"
                             "done: x = y = 4\n"
                             "context: tabs\t=\t1e1\r\n"
                             "goal: +5 = +5\n"),
              (Rules{{CueSection::constraint, "staging database", 3},
                     {CueSection::done, "ship it", 2},
                     {CueSection::goal, "50% = faster", 2},
                     {CueSection::context, "the old repo", 2.5},
                     {CueSection::goal, "a: b", -1},
                     {CueSection::done, "x = y", 4},
                     {CueSection::context, "tabs", 10},
                     {CueSection::goal, "+5", 5}}));
}

TEST(ModeRulesFile, SkipsMalformedLinesOfEveryKind) {
    EXPECT_EQ(parseModeRules("\n"
                             "   \n"
                             "# constraint: commented = 3\n"
                             "   # goal: indented comment\n"
                             "no colon here = 3\n"
                             "budget: x = 3\n"
                             "goals: plural = 3\n"
                             ": no section = 3\n"
                             "goal:\n"
                             "goal:    \n"
                             "constraint: = 3\n"
                             "done:=\n"),
              (Rules{{CueSection::done, "=", 2}}));
    // A weight that is not a plain number keeps the whole rest as the phrase.
    EXPECT_EQ(parseModeRules("goal: a = nan\ngoal: b = inf\ngoal: c = 0x10\ngoal: d = 3x\n"
                             "goal: e = \n"),
              (Rules{{CueSection::goal, "a = nan", 2},
                     {CueSection::goal, "b = inf", 2},
                     {CueSection::goal, "c = 0x10", 2},
                     {CueSection::goal, "d = 3x", 2},
                     {CueSection::goal, "e =", 2}}));
    // Bytes that are not UTF-8 do not cost the other lines.
    EXPECT_EQ(
        parseModeRules("goal: caf\xe9 = 3\ndone: tests pass = 2\n"),
        (Rules{{CueSection::goal, "caf\xef\xbf\xbd", 3}, {CueSection::done, "tests pass", 2}}));
    EXPECT_EQ(parseModeRules(""), Rules{});
}

TEST(ModeRulesFile, SavesTheHeaderAndWholeWeightsAtomicallyAndPrivately) {
    TempDir dir;
    const std::string path = dir.file("sub/mode-rules");
    ASSERT_TRUE(saveCustomRules(
        {{CueSection::constraint, "staging database", 3.0}, {CueSection::done, "tests pass", 2.5}},
        path));
    EXPECT_EQ(readFixture(path), std::string(kHeader) + "constraint: staging database = 3\n"
                                                        "done: tests pass = 2\n");
    EXPECT_EQ(filePermissions(path), 0600u);
    EXPECT_EQ(loadCustomRules(path), (Rules{{CueSection::constraint, "staging database", 3},
                                            {CueSection::done, "tests pass", 2}}));
    EXPECT_EQ(entriesIn(dir.file("sub")), 1u); // nothing but the file is left in the folder
    EXPECT_EQ(loadCustomRules(dir.file("missing")), Rules{});
}

TEST(ModeRulesFile, OddRulesNeverCorruptTheFile) {
    TempDir dir;
    const std::string path = dir.file("mode-rules");
    const Rules odd = {
        {CueSection::goal, "two\nlines\r\nhere", 2},
        {CueSection::context, "   ", 3},
        {CueSection::done, "x = 5", 1.9},
        {CueSection::constraint, "weird", std::numeric_limits<double>::quiet_NaN()},
        {CueSection::constraint, "big", 1e30},
        {CueSection::context, "negative", -0.5},
        {CueSection::goal, "# not a comment: really", 3},
        {CueSection::done, "bad \xff byte", 2},
    };
    ASSERT_TRUE(saveCustomRules(odd, path));
    EXPECT_EQ(loadCustomRules(path), (Rules{
                                         {CueSection::goal, "two lines  here", 2},
                                         {CueSection::done, "x = 5", 1},
                                         {CueSection::constraint, "weird", 2},
                                         {CueSection::constraint, "big", 1e30},
                                         {CueSection::context, "negative", 0},
                                         {CueSection::goal, "# not a comment: really", 3},
                                         {CueSection::done, "bad \xef\xbf\xbd byte", 2},
                                     }));
    // Saving what was read writes the same file again.
    const std::string first = readFixture(path);
    ASSERT_TRUE(saveCustomRules(loadCustomRules(path), path));
    EXPECT_EQ(readFixture(path), first);
}

TEST(ModeRulesFile, AFailedSaveSaysSoAndLeavesNothingBehind) {
    TempDir dir;
    // Something that is not a file stands where the rules go; even root cannot replace it.
    const std::string path = dir.file("mode-rules");
    std::filesystem::create_directory(path);
    EXPECT_FALSE(saveCustomRules({{CueSection::done, "new", 2}}, path));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
    EXPECT_EQ(loadCustomRules(path), Rules{});
}

} // namespace
} // namespace vak
