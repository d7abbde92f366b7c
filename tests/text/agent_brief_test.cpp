#include "foundation/process_values.h"
#include "support/temp_dir.h"
#include "text/agent_brief.h"
#include "text/local_modes.h"
#include "text/mode_rules.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using List = std::vector<std::string>;
using test::TempDir;
using test::writeFixture;

class AgentBriefTest : public testing::Test {
  protected:
    std::vector<AgentCue> cues(const std::string& rules = "") const {
        if (!rules.empty()) writeFixture(dir.file("mode-rules"), rules);
        return agentCueTable(dir.file("mode-rules"));
    }
    TempDir dir;
};

TEST_F(AgentBriefTest, TaskClausesCutAtCommasAndKeepShortPiecesWithTheirClause) {
    EXPECT_EQ(taskClauses("Add a dark mode toggle, and then make it persist, please. Also keep "
                          "the old theme, fine."),
              (List{"Add a dark mode toggle", "then make it persist, please.",
                    "keep the old theme, fine."}));
    // A short first piece has nothing to join and stands alone.
    EXPECT_EQ(taskClauses("Okay, fix the login page today."), (List{"fix the login page today."}));
    EXPECT_EQ(taskClauses("Yes, fix it, now, and the api too."),
              (List{"Yes, fix it, now", "the api too."}));
    // A short sentence after a finished clause follows it as a sentence.
    EXPECT_EQ(taskClauses("Can you send the report by Friday. Thanks."),
              List{"Can you send the report by Friday. Thanks."});
    EXPECT_EQ(taskClauses("The contract needs a signature. Number two, the deposit is due."),
              (List{"The contract needs a signature. Number two", "the deposit is due."}));
    EXPECT_EQ(taskClauses(""), List{});
    EXPECT_EQ(taskClauses("Scratch that."), List{});
}

TEST_F(AgentBriefTest, TheWorkedExampleAndItsQuality) {
    const List clauses = taskClauses("Add a dark mode toggle to the settings page. Do not touch "
                                     "the billing code. It works when the toggle persists after "
                                     "a restart.");
    ASSERT_EQ(clauses.size(), 3u);
    const std::string expected = "Goal\nAdd a dark mode toggle to the settings page.\n\n"
                                 "Constraints\n- Do not touch the billing code.\n\n"
                                 "Done when\n- It works when the toggle persists after a restart.";
    for (double threshold : {3.0, 2.0}) {
        const AgentBrief brief = buildAgentBrief(clauses, cues(), threshold);
        EXPECT_EQ(brief.text, expected);
        EXPECT_DOUBLE_EQ(brief.quality, 5);
    }
}

TEST_F(AgentBriefTest, SectionsAndQualityByThreshold) {
    // The second clause's only cue is a file name (context, 2): context under threshold 2,
    // goal under threshold 3.
    const List twoClauses = {"Add a rate limit to the login endpoint",
                             "the handler lives in routes.ts"};
    const AgentBrief strict = buildAgentBrief(twoClauses, cues(), 3);
    EXPECT_EQ(strict.text, "Goal\nAdd a rate limit to the login endpoint. The handler lives in "
                           "routes.ts.");
    EXPECT_DOUBLE_EQ(strict.quality, 3);
    const AgentBrief loose = buildAgentBrief(twoClauses, cues(), 2);
    EXPECT_EQ(loose.text, "Goal\nAdd a rate limit to the login endpoint.\n\nContext\n- The "
                          "handler lives in routes.ts.");
    EXPECT_DOUBLE_EQ(loose.quality, 4);

    // No goal at all: -4 plus the filled sections, minus 2 for each holding over half.
    const AgentBrief noGoal = buildAgentBrief({"the error shows in the log"}, cues(), 3);
    EXPECT_EQ(noGoal.text, "Context\n- The error shows in the log.");
    EXPECT_DOUBLE_EQ(noGoal.quality, -4 + 1 - 2);

    // A later section replaces the preferred one only with a strictly higher score.
    const AgentBrief higher = buildAgentBrief(
        {"Fix the importer", "be careful since it fails loudly on bad rows"}, cues(), 2);
    // Clause 2: constraint 2 (be careful) against context 3 (fails) → context.
    EXPECT_EQ(higher.text, "Goal\nFix the importer.\n\nContext\n- Be careful since it fails "
                           "loudly on bad rows.");
    const AgentBrief tied = buildAgentBrief(
        {"Fix the importer", "leave the cache alone, it is currently warm"}, cues(), 2);
    // Constraint 2 (leave the) against context 2 (currently): constraint.
    EXPECT_EQ(tied.text, "Goal\nFix the importer.\n\nConstraints\n- Leave the cache alone, it is "
                         "currently warm.");
    EXPECT_DOUBLE_EQ(buildAgentBrief({}, cues(), 3).quality, -4);
    EXPECT_EQ(buildAgentBrief({}, cues(), 3).text, "");
}

TEST_F(AgentBriefTest, TheBetterQualityWinsAndATieKeepsThreshold3) {
    // Threshold 2 moves the file clause to context: 4 against 3.
    EXPECT_EQ(localAgentBrief("Add a rate limit to the login endpoint. The handler lives in "
                              "routes.ts.",
                              cues()),
              "Goal\nAdd a rate limit to the login endpoint.\n\nContext\n- The handler lives in "
              "routes.ts.");
    // Threshold 2 fills context with two of three clauses: 3 + 1 - 2 = 2 against 3.
    EXPECT_EQ(localAgentBrief("Add a config loader. It should read settings.json. The parser "
                              "lives in parser.py.",
                              cues()),
              "Goal\nAdd a config loader. It should read settings.json. The parser lives in "
              "parser.py.");
    // Both 4: the threshold-3 brief, with the file clause among the goals.
    EXPECT_EQ(localAgentBrief("Add a rate limit to the login endpoint. The error shows up in the "
                              "log. The handler lives in routes.ts. Update the docs page as well.",
                              cues()),
              "Goal\nAdd a rate limit to the login endpoint. The handler lives in routes.ts. "
              "Update the docs page as well.\n\nContext\n- The error shows up in the log.");
    // Nothing to brief: the professional text.
    EXPECT_EQ(localAgentBrief("", cues()), "");
    EXPECT_EQ(localAgentBrief("Scratch that.", cues()), "");
}

TEST_F(AgentBriefTest, UserCuesFromTheModeRulesFile) {
    const std::vector<AgentCue> table =
        cues("# mine\nconstraint: staging database = 3\ndone: ship it\nbudget: x = 3\n"
             "context: c++ = 2\ngoal: 50% = faster\n");
    ASSERT_EQ(table.size(), 12u + 4u); // after the built-in cues

    // Any case, whole words only.
    const List clauses = {"Rebuild the cache", "point it at the Staging Database first",
                          "point it at the staging databases later"};
    const AgentBrief brief = buildAgentBrief(clauses, table, 3);
    EXPECT_EQ(brief.text, "Goal\nRebuild the cache. Point it at the staging databases later.\n\n"
                          "Constraints\n- Point it at the Staging Database first.");
    // Phrases with symbols match literally where they stand alone.
    EXPECT_EQ(buildAgentBrief({"Port the tool", "the old code is in c++ and slow"}, table, 2).text,
              "Goal\nPort the tool.\n\nContext\n- The old code is in c++ and slow.");
    EXPECT_EQ(buildAgentBrief({"Port the tool", "the old code is in cxx and slow"}, table, 2).text,
              "Goal\nPort the tool. The old code is in cxx and slow.");

    // The file is read on every call; without it only the built-in cues remain.
    std::remove(dir.file("mode-rules").c_str());
    EXPECT_EQ(agentCueTable(dir.file("mode-rules")).size(), 12u);
}

} // namespace
} // namespace vak
