#include "support/run_binary.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::BinaryOptions;
using test::runVak;
using test::TempDir;
using test::writeFixture;

class LocalModesCli : public testing::Test {
  protected:
    BinaryOptions options(const std::string& input) const {
        BinaryOptions o;
        o.env["HOME"] = home.path();
        o.env["VAK_TMPDIR"] = home.path();
        o.env["LC_ALL"] = "en_US.UTF-8";
        o.input = input;
        return o;
    }
    TempDir home;
};

TEST_F(LocalModesCli, ProfessionalModePrintsTheThreeBlocks) {
    const auto run = runVak({"--local-mode", "professional"},
                            options("Hi sarah. Can you send the report by friday. Thanks."));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Hi Sarah,\n\nCan you send the report by Friday?\n\nThanks.\n");
}

TEST_F(LocalModesCli, EveryModeRendersTheFormattedInput) {
    const std::string spoken = "um so first we order 1500 dollars of chairs. second we book the "
                               "room. we decided to ship on friday. remember to email legal";
    auto run = runVak({"--local-mode", "summarize"}, options(spoken));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "- We order $1,500 of chairs.\n- We book the room.\n\nDecisions\n- We "
                       "decided to ship on Friday.\n\nAction items\n- Remember to email legal.\n");

    run = runVak({"--local-mode", "expand"}, options("add a settings page"));
    EXPECT_EQ(run.out, "Add a settings page.\n\nOpen questions:\n- What should the loading, "
                       "empty, and error states look like?\n- What does done look like, "
                       "concretely?\n- Is there anything that must not change?\n");

    // The plain modes print the formatted text as it is.
    for (const char* mode : {"normal", "ask", "raw", "bogus"}) {
        run = runVak({"--local-mode", mode}, options("okay so um I think we should go"));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Okay so I think we should go.\n") << mode;
    }
    // Input that is not UTF-8 counts as empty.
    run = runVak({"--local-mode", "professional"}, options("caf\xe9 is open"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "\n");
}

TEST_F(LocalModesCli, AgentModeUsesTheUsersModeRules) {
    const std::string request = "Rebuild the cache. Point it at the staging database first.";
    auto run = runVak({"--local-mode", "agent"}, options(request));
    EXPECT_EQ(run.out, "Goal\nRebuild the cache. Point it at the staging database first.\n");
    writeFixture(home.file(".dictation/mode-rules"), "constraint: staging database = 3\n");
    run = runVak({"--local-mode", "agent"}, options(request));
    EXPECT_EQ(run.out, "Goal\nRebuild the cache.\n\nConstraints\n- Point it at the staging "
                       "database first.\n");
}

TEST_F(LocalModesCli, MoneyIsGroupedInTheUsersLocale) {
    BinaryOptions o = options("we owe them 1500 dollars for the chairs");
    o.env["LC_ALL"] = "de_DE.UTF-8";
    const auto run = runVak({"--local-mode", "professional"}, o);
    EXPECT_EQ(run.out, "We owe them $1.500 for the chairs.\n");
}

TEST_F(LocalModesCli, LocalCommandEditsTheTrimmedSelectionOrSaysNothing) {
    auto run = runVak({"--local-command", "make it all caps"}, options("hello world"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "HELLO WORLD\n");

    run = runVak({"--local-command", "Lower Case"}, options("  \n Hello World \n\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "hello world\n");

    run = runVak({"--local-command", "please fix the spelling"},
                 options("so dont worry, the the meeting is on tuesday"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Don't worry, the meeting is on Tuesday.\n");

    for (const char* instruction : {"translate to french", "uppercased", ""}) {
        run = runVak({"--local-command", instruction}, options("hello world"));
        EXPECT_EQ(run.exitCode, 1) << instruction;
        EXPECT_EQ(run.out, "") << instruction;
    }
}

} // namespace
} // namespace vak
