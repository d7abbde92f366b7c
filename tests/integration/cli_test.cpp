// The command line's dispatch and its text modes, through the built binary.
#include "binary_fixture.h"
#include "foundation/config.h"
#include "support/expect_contains.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::runVak;

class Cli : public test::BinaryTest {};

TEST_F(Cli, VersionAndHelpAnswerWithoutTheDaemonAndTheFirstRunWritesAPrivateConfig) {
    const auto version = runVak({"--version"}, options());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "vak-dictate 8.28\n");
    const std::string config = home.file(".dictation/config");
    EXPECT_EQ(readFixture(config), defaultConfigText(home.path()));
    struct stat st {};
    ASSERT_EQ(stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const auto help = runVak({"--help"}, options());
    EXPECT_EQ(help.exitCode, 0);
    for (const char* flag :
         {"--format-stdin", "--polish-stdin", "--polish-text-stdin", "--local-mode MODE",
          "--local-command INSTRUCTION", "--devices", "--mic-check [PREFERENCE]", "--av-test",
          "--transcribe-file WAV", "--caption-sim WAV", "--spec-sim WAV", "--chunk-sim WAV",
          "--settings-demo", "--explain-demo", "--hud-demo", "--mode-info-demo", "VAK_TMPDIR",
          "VAK_TOOL_PATH"}) {
        EXPECT_CONTAINS(help.out, flag);
    }
}

TEST_F(Cli, AFlagMissingItsArgumentCountsAsUnknown) {
    // Unknown flags start the daemon, which without a display says so and ends.
    auto noDisplay = options();
    noDisplay.unsetEnv = {"DISPLAY"};
    for (const char* flag : {"--transcribe-file", "--local-mode", "--local-command", "--chunk-sim",
                             "--spec-sim", "--caption-sim", "--bogus"}) {
        const auto run = runVak({flag}, noDisplay);
        EXPECT_EQ(run.exitCode, 1) << flag;
        EXPECT_CONTAINS(run.err, "‼️ no X11 display");
    }
    // With its argument the same flag is recognised.
    const auto sim = runVak({"--caption-sim", "x.wav"}, options());
    EXPECT_EQ(sim.exitCode, 1);
    EXPECT_EQ(sim.err, "cannot read x.wav\n");
    // --mic-check takes an optional argument; without a sound server it cannot record.
    auto noSound = options();
    noSound.env["PULSE_SERVER"] = "unix:" + home.file("no-such-socket");
    for (const auto& args : {std::vector<std::string>{"--mic-check"},
                             std::vector<std::string>{"--mic-check", "usb"}}) {
        const auto run = runVak(args, noSound);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "FAIL: capture could not start\n");
    }
}

TEST_F(Cli, FormatStdinPrintsTheFormattedTranscript) {
    const std::pair<const char*, const char*> cases[] = {
        {"okay so um I think we should go", "Okay so I think we should go.\n"},
        {"[BLANK_AUDIO]\nGroceries: dash milk, dash eggs\n", "Groceries\n- Milk\n- Eggs\n"},
        {"", "\n"},
        // A byte that is not UTF-8 is repaired, not the whole input dropped.
        {"caf\xe9 is open now", "Caf\xef\xbf\xbd is open now.\n"},
    };
    for (const auto& [input, expected] : cases) {
        const auto run = runVak({"--format-stdin"}, options(input));
        EXPECT_EQ(run.exitCode, 0) << input;
        EXPECT_EQ(run.out, expected);
    }
}

TEST_F(Cli, FormatStdinUsesTheUsersDictionaryAndSnippets) {
    userFile("learned-words.txt", "Postgres\n");
    userFile("snippets", "sig = Best,\\nSam\n");
    const auto run = runVak({"--format-stdin"}, options("we use postgress daily snippet sig"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "We use Postgres daily Best,\nSam.\n");
    EXPECT_CONTAINS(run.err, "] \xe2\x89\x88 sound-alike corrected to Postgres\n");
    EXPECT_EQ(readFixture(home.file(".dictation/.variant-candidates")), "Postgres|postgress\n");
}

TEST_F(Cli, LocalModesRenderTheFormattedInput) {
    auto run = runVak({"--local-mode", "professional"},
                      options("Hi sarah. Can you send the report by friday. Thanks."));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Hi Sarah,\n\nCan you send the report by Friday?\n\nThanks.\n");

    // Formatted first: the hesitation goes and the money is written out.
    run = runVak({"--local-mode", "summarize"},
                 options("um so first we order 1500 dollars of chairs. second we book the room. "
                         "we decided to ship on friday. remember to email legal"));
    EXPECT_EQ(run.out, "- We order $1,500 of chairs.\n- We book the room.\n\nDecisions\n- We "
                       "decided to ship on Friday.\n\nAction items\n- Remember to email legal.\n");

    // The plain modes print the formatted text as it is.
    for (const char* mode : {"normal", "ask", "raw", "bogus"}) {
        run = runVak({"--local-mode", mode}, options("okay so um I think we should go"));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Okay so I think we should go.\n") << mode;
    }
    run = runVak({"--local-mode", "professional"}, options("caf\xe9 is open"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Caf\xef\xbf\xbd is open.\n");

    auto german = options("we owe them 1500 dollars for the chairs");
    german.env["LC_ALL"] = "de_DE.UTF-8";
    EXPECT_EQ(runVak({"--local-mode", "professional"}, german).out,
              "We owe them $1.500 for the chairs.\n");
}

TEST_F(Cli, AgentModeUsesTheUsersModeRules) {
    const std::string request = "Rebuild the cache. Point it at the staging database first.";
    auto run = runVak({"--local-mode", "agent"}, options(request));
    EXPECT_EQ(run.out, "Goal\nRebuild the cache. Point it at the staging database first.\n");
    userFile("mode-rules", "constraint: staging database = 3\n");
    run = runVak({"--local-mode", "agent"}, options(request));
    EXPECT_EQ(run.out, "Goal\nRebuild the cache.\n\nConstraints\n- Point it at the staging "
                       "database first.\n");
}

TEST_F(Cli, LocalCommandEditsTheTrimmedSelectionOrSaysNothing) {
    auto run = runVak({"--local-command", "make it all caps"}, options("hello world"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "HELLO WORLD\n");

    run = runVak({"--local-command", "Lower Case"}, options("  \n Hello World\xff \n\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "hello world\xef\xbf\xbd\n");

    for (const char* instruction : {"translate to french", "uppercased", ""}) {
        run = runVak({"--local-command", instruction}, options("hello world"));
        EXPECT_EQ(run.exitCode, 1) << instruction;
        EXPECT_EQ(run.out, "") << instruction;
    }
}

} // namespace
} // namespace vak
