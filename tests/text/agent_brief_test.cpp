#include "base/files.h"
#include "support/temp_dir.h"
#include "text/agent_brief.h"
#include "text/mode_rules.h"

#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using List = std::vector<std::string>;
using Rules = std::vector<ModeRule>;
constexpr auto goal = CueSection::goal, done = CueSection::done, context = CueSection::context,
               constraint = CueSection::constraint;

class AgentBriefTest : public testing::Test {
  protected:
    std::vector<AgentCue> cues() const { return agentCueTable(dir.file("mode-rules")); }
    test::TempDir dir;
};

// The quality: the filled sections plus 2 for a goal (-4 without one), minus 2 for each section
// holding over half the clauses. A later section takes a clause only with a strictly higher score.
TEST_F(AgentBriefTest, SectionsAndQualityByThreshold) {
    const List worked = taskClauses("Add a dark mode toggle to the settings page. Do not touch "
                                    "the billing code. It works when the toggle persists after a "
                                    "restart.");
    const std::string workedBrief = "Goal\nAdd a dark mode toggle to the settings page.\n\n"
                                    "Constraints\n- Do not touch the billing code.\n\n"
                                    "Done when\n- It works when the toggle persists after a "
                                    "restart.";
    // The second clause's only cue is a file name: context (2) under threshold 2 alone.
    const List file = {"Add a rate limit to the login endpoint", "the handler lives in routes.ts"};
    const struct {
        List clauses;
        double threshold;
        std::string text;
        std::optional<double> quality;
    } cases[] = {
        {worked, 3, workedBrief, 5},
        {file, 3, "Goal\nAdd a rate limit to the login endpoint. The handler lives in routes.ts.",
         3},
        {file, 2,
         "Goal\nAdd a rate limit to the login endpoint.\n\nContext\n- The handler lives in "
         "routes.ts.",
         4},
        {{"the error shows in the log"}, 3, "Context\n- The error shows in the log.", -4 + 1 - 2},
        // Constraint 2 (be careful) against context 3 (fails): context.
        {{"Fix the importer", "be careful since it fails loudly on bad rows"},
         2,
         "Goal\nFix the importer.\n\nContext\n- Be careful since it fails loudly on bad rows.",
         {}},
        // Constraint 2 (leave the) against context 2 (currently): constraint.
        {{"Fix the importer", "leave the cache alone, it is currently warm"},
         2,
         "Goal\nFix the importer.\n\nConstraints\n- Leave the cache alone, it is currently warm.",
         {}},
        {{}, 3, "", -4},
    };
    // Clauses are cut at commas; short pieces stay with their clause.
    EXPECT_EQ(taskClauses("Add a dark mode toggle, and then make it persist, please. Also keep the "
                          "old theme, fine."),
              (List{"Add a dark mode toggle", "then make it persist, please.",
                    "keep the old theme, fine."}));
    for (const auto& c : cases) {
        const AgentBrief brief = buildAgentBrief(c.clauses, cues(), c.threshold);
        EXPECT_EQ(brief.text, c.text);
        EXPECT_DOUBLE_EQ(brief.quality, c.quality.value_or(brief.quality)) << c.text;
    }
    // The better of the two thresholds' briefs (4 against 3 here); a tie (4 and 4) keeps 3.
    const std::string better = "Add a rate limit to the login endpoint. The handler lives in a.ts.";
    const std::string tie = "Add a rate limit to the login endpoint. The error shows up in the "
                            "log. The handler lives in routes.ts. Update the docs page as well.";
    for (const auto& [text, threshold] : {std::pair{better, 2.0}, std::pair{tie, 3.0}}) {
        const List clauses = taskClauses(text);
        const auto brief = [&](double t) { return buildAgentBrief(clauses, cues(), t); };
        EXPECT_EQ(localAgentBrief(text, cues()), brief(threshold).text);
        EXPECT_NE(brief(2).text, brief(3).text);
    }
}

TEST_F(AgentBriefTest, UserCuesFromTheModeRulesFile) {
    test::writeFixture(dir.file("mode-rules"), "constraint: staging database = 3\n"
                                               "context: c++ = 2\nbudget: x = 3\n");
    const std::vector<AgentCue> table = cues();
    ASSERT_EQ(table.size(), 12u + 2u); // after the built-in cues
    // Any case, whole words only; phrases with symbols match literally where they stand alone.
    EXPECT_EQ(buildAgentBrief({"Rebuild the cache", "point it at the Staging Database first",
                               "point it at the staging databases later"},
                              table, 3)
                  .text,
              "Goal\nRebuild the cache. Point it at the staging databases later.\n\n"
              "Constraints\n- Point it at the Staging Database first.");
    EXPECT_EQ(buildAgentBrief({"Port the tool", "the old code is in c++ and slow"}, table, 2).text,
              "Goal\nPort the tool.\n\nContext\n- The old code is in c++ and slow.");
    EXPECT_EQ(buildAgentBrief({"Port the tool", "the old code is in cxx and slow"}, table, 2).text,
              "Goal\nPort the tool. The old code is in cxx and slow.");
}

TEST(ModeRulesFile, ReadsEachWellFormedLineAndSkipsTheRest) {
    const std::pair<const char*, Rules> cases[] = {
        {"constraint: staging database = 3", {{constraint, "staging database", 3}}},
        {"done: ship it", {{done, "ship it", 2}}},
        {"  Context :  the old repo  =  2.5  ", {{context, "the old repo", 2.5}}},
        {"GOAL: a: b = -1", {{goal, "a: b", -1}}},
        {"context: tabs\t=\t1e1\r", {{context, "tabs", 10}}},
        // A weight that is not a plain number keeps the whole rest as the phrase.
        {"goal: a = nan", {{goal, "a = nan", 2}}},
        {"goal: caf\xe9 = 3", {{goal, "caf\xef\xbf\xbd", 3}}},
        {"   # goal: indented comment", {}},
        {"no colon here = 3", {}},
        {"constraint: = 3", {}},
    };
    std::string file;
    Rules all;
    for (const auto& [line, rules] : cases) {
        EXPECT_EQ(parseModeRules(line), rules) << line;
        file += std::string(line) + "\n";
        all.insert(all.end(), rules.begin(), rules.end());
    }
    EXPECT_EQ(parseModeRules(file), all);
}

TEST(ModeRulesFile, SavesPrivatelyWithoutCorruptingAndAFailedSaveLeavesNothing) {
    test::TempDir dir;
    const std::string path = dir.file("sub/mode-rules");
    const Rules odd = {
        {goal, "two\nlines\r\nhere", 2},
        {context, "   ", 3},
        {done, "x = 5", 1.9},
        {constraint, "weird", std::numeric_limits<double>::quiet_NaN()},
        {goal, "# not a comment: really", 3},
        {done, "bad \xff byte", 2},
    };
    ASSERT_TRUE(saveCustomRules(odd, path));
    EXPECT_EQ(loadCustomRules(path), (Rules{
                                         {goal, "two lines  here", 2},
                                         {done, "x = 5", 1},
                                         {constraint, "weird", 2},
                                         {goal, "# not a comment: really", 3},
                                         {done, "bad \xef\xbf\xbd byte", 2},
                                     }));
    EXPECT_TRUE(test::readFixture(path).starts_with("# Your mode keywords."));
    EXPECT_EQ(filePermissions(path), 0600u);
    // Saving what was read writes the same file again.
    const std::string first = test::readFixture(path);
    ASSERT_TRUE(saveCustomRules(loadCustomRules(path), path));
    EXPECT_EQ(test::readFixture(path), first);

    // Something that is not a file stands where the rules go; even root cannot replace it.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_FALSE(saveCustomRules({{done, "new", 2}}, path));
    EXPECT_TRUE(std::filesystem::is_empty(path));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("sub")), {}), 1);
    EXPECT_EQ(loadCustomRules(path), Rules{});
}

} // namespace
} // namespace vak
