// The command line through the built binary: each flag reaches its mode with the user's files,
// the locale and standard input (what the modes write is the text suites' business).
#include "binary_fixture.h"
#include "support/expect_contains.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::runVak;

using Cli = test::BinaryTest;

// Version and help answer without the daemon. Unknown flags start the daemon, which without a
// display says so and ends; with its argument the same flag is recognised. --mic-check takes an
// optional argument; without a sound server it cannot record.
TEST_F(Cli, EachFlagReachesItsModeAndOneMissingItsArgumentCountsAsUnknown) {
    EXPECT_EQ(runVak({"--version"}, options()).out, "vak-dictate 8.28\n");
    const auto help = runVak({"--help"}, options());
    EXPECT_EQ(help.exitCode, 0);
    for (const char* flag :
         {"--format-stdin", "--polish-stdin", "--polish-text-stdin", "--local-mode MODE",
          "--local-command INSTRUCTION", "--devices", "--mic-check [PREFERENCE]", "--av-test",
          "--transcribe-file WAV", "--caption-sim WAV", "--spec-sim WAV", "--chunk-sim WAV",
          "--settings-demo", "--explain-demo", "--hud-demo", "--mode-info-demo"})
        EXPECT_CONTAINS(help.out, flag);
    auto noDisplay = options();
    noDisplay.unsetEnv = {"DISPLAY"};
    for (const char* flag : {"--caption-sim", "--bogus"}) {
        const auto run = runVak({flag}, noDisplay);
        EXPECT_EQ(run.exitCode, 1) << flag;
        EXPECT_CONTAINS(run.err, "‼️ no X11 display");
    }
    const auto sim = runVak({"--caption-sim", "x.wav"}, options());
    EXPECT_EQ(sim.exitCode, 1);
    EXPECT_EQ(sim.err, "cannot read x.wav\n");
    auto noSound = options();
    noSound.env["PULSE_SERVER"] = "unix:" + home.file("no-such-socket");
    const auto mic = runVak({"--mic-check", "usb"}, noSound);
    EXPECT_EQ(mic.exitCode, 1);
    EXPECT_EQ(mic.out, "FAIL: capture could not start\n");
}

// A byte that is not UTF-8 is repaired, not the whole input dropped; an unknown mode pastes the
// formatted text; the sound-alike correction is noted for the dictionary to learn; money follows
// the locale.
TEST_F(Cli, TextModesReadStandardInputTheUsersFilesAndTheLocale) {
    userFile("learned-words.txt", "Postgres\n");
    userFile("snippets", "sig = Best,\\nSam\n");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string out; // exit status 1 when empty
    };
    const std::vector<std::string> format = {"--format-stdin"};
    const Case cases[] = {
        {format, "caf\xe9 is open now", "Caf\xef\xbf\xbd is open now.\n"},
        {format, "we use postgress daily snippet sig", "We use Postgres daily Best,\nSam.\n"},
        {{"--local-mode", "bogus"},
         "okay so um I think we should go",
         "Okay so I think we should go.\n"},
        {{"--local-command", "Lower Case"},
         "  \n Hello World\xff \n\n",
         "hello world\xef\xbf\xbd\n"},
        {{"--local-command", "translate to french"}, "hello world", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + ": " + c.input);
        const auto run = runVak(c.args, options(c.input));
        EXPECT_EQ(run.exitCode, c.out.empty() ? 1 : 0);
        EXPECT_EQ(run.out, c.out);
    }
    EXPECT_EQ(readFixture(home.file(".dictation/.variant-candidates")), "Postgres|postgress\n");
    auto german = options("we owe them 1500 dollars for the chairs");
    german.env["LC_ALL"] = "de_DE.UTF-8";
    EXPECT_EQ(runVak({"--local-mode", "professional"}, german).out,
              "We owe them $1.500 for the chairs.\n");
}

} // namespace
} // namespace vak
