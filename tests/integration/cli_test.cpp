// The command line's dispatch and its text modes, through the built binary. What the modes write
// is the text suites' business; here: that each flag reaches its mode with the user's files, the
// locale and standard input as the process gets them.
#include "base/files.h"
#include "binary_fixture.h"
#include "foundation/config.h"
#include "support/expect_contains.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(filePermissions(config), 0600u);

    const auto help = runVak({"--help"}, options());
    EXPECT_EQ(help.exitCode, 0);
    for (const char* flag :
         {"--format-stdin", "--polish-stdin", "--polish-text-stdin", "--local-mode MODE",
          "--local-command INSTRUCTION", "--devices", "--mic-check [PREFERENCE]", "--av-test",
          "--transcribe-file WAV", "--caption-sim WAV", "--spec-sim WAV", "--chunk-sim WAV",
          "--settings-demo", "--explain-demo", "--hud-demo", "--mode-info-demo"})
        EXPECT_CONTAINS(help.out, flag);
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

TEST_F(Cli, TextModesReadStandardInputTheUsersFilesAndTheLocale) {
    userFile("learned-words.txt", "Postgres\n");
    userFile("snippets", "sig = Best,\\nSam\n");
    userFile("mode-rules", "constraint: staging database = 3\n");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string out; // exit status 1 when empty
    };
    const std::string okay = "okay so um I think we should go";
    const std::string formatted = "Okay so I think we should go.\n";
    const std::vector<std::string> format = {"--format-stdin"};
    const Case cases[] = {
        {format, okay, formatted},
        {format, "[BLANK_AUDIO]\nGroceries: dash milk, dash eggs\n", "Groceries\n- Milk\n- Eggs\n"},
        {format, "", "\n"},
        // A byte that is not UTF-8 is repaired, not the whole input dropped.
        {format, "caf\xe9 is open now", "Caf\xef\xbf\xbd is open now.\n"},
        {format, "we use postgress daily snippet sig", "We use Postgres daily Best,\nSam.\n"},
        {{"--local-mode", "professional"},
         "Hi sarah. Can you send the report by friday. Thanks.",
         "Hi Sarah,\n\nCan you send the report by Friday?\n\nThanks.\n"},
        // Formatted first: the hesitation goes and the money is written out.
        {{"--local-mode", "summarize"},
         "um so first we order 1500 dollars of chairs. second we book the room. we decided to ship "
         "on friday. remember to email legal",
         "- We order $1,500 of chairs.\n- We book the room.\n\nDecisions\n- We decided to ship on "
         "Friday.\n\nAction items\n- Remember to email legal.\n"},
        {{"--local-mode", "raw"}, okay, formatted},
        {{"--local-mode", "bogus"}, okay, formatted},
        {{"--local-mode", "agent"},
         "Rebuild the cache. Point it at the staging database first.",
         "Goal\nRebuild the cache.\n\nConstraints\n- Point it at the staging database first.\n"},
        {{"--local-command", "Lower Case"},
         "  \n Hello World\xff \n\n",
         "hello world\xef\xbf\xbd\n"},
        {{"--local-command", "translate to french"}, "hello world", ""},
        {{"--local-command", ""}, "hello world", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + ": " + c.input);
        const auto run = runVak(c.args, options(c.input));
        EXPECT_EQ(run.exitCode, c.out.empty() ? 1 : 0);
        EXPECT_EQ(run.out, c.out);
    }
    // The sound-alike correction is noted for the dictionary to learn; money follows the locale.
    EXPECT_EQ(readFixture(home.file(".dictation/.variant-candidates")), "Postgres|postgress\n");
    auto german = options("we owe them 1500 dollars for the chairs");
    german.env["LC_ALL"] = "de_DE.UTF-8";
    EXPECT_EQ(runVak({"--local-mode", "professional"}, german).out,
              "We owe them $1.500 for the chairs.\n");
}

} // namespace
} // namespace vak
