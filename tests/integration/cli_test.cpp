#include "app/config.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::BinaryOptions;
using test::readFixture;
using test::runVak;
using test::TempDir;

class Cli : public testing::Test {
  protected:
    BinaryOptions options() const {
        BinaryOptions o;
        o.env["HOME"] = home.path();
        o.env["VAK_TMPDIR"] = home.path();
        return o;
    }
    TempDir home;
};

TEST_F(Cli, FirstRunWritesTheDefaultConfigurationPrivately) {
    runVak({"--version"}, options());
    const std::string config = home.file(".dictation/config");
    EXPECT_EQ(readFixture(config), defaultConfigText(home.path()));
    struct stat st {};
    ASSERT_EQ(stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Cli, VersionAndHelpAnswerWithoutStartingTheDaemon) {
    const auto version = runVak({"--version"}, options());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "vak-dictate 8.28\n");

    const auto help = runVak({"--help"}, options());
    EXPECT_EQ(help.exitCode, 0);
    for (const char* flag :
         {"--format-stdin", "--polish-stdin", "--polish-text-stdin", "--local-mode MODE",
          "--local-command INSTRUCTION", "--devices", "--mic-check [PREFERENCE]", "--av-test",
          "--transcribe-file WAV", "--caption-sim WAV", "--spec-sim WAV", "--chunk-sim WAV",
          "--settings-demo", "--explain-demo", "--hud-demo", "--mode-info-demo", "VAK_TMPDIR",
          "VAK_TOOL_PATH"}) {
        EXPECT_NE(help.out.find(flag), std::string::npos) << flag;
    }
}

TEST_F(Cli, FormatStdinPrintsTheFormattedTranscript) {
    BinaryOptions o = options();
    o.input = "okay so um I think we should go";
    auto run = runVak({"--format-stdin"}, o);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Okay so I think we should go.\n");

    o.input = "[BLANK_AUDIO]\nGroceries: dash milk, dash eggs\n";
    run = runVak({"--format-stdin"}, o);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Groceries\n- Milk\n- Eggs\n");

    for (const char* input : {"", "caf\xe9 is open now"}) {
        o.input = input;
        run = runVak({"--format-stdin"}, o);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "\n");
    }
}

TEST_F(Cli, FormatStdinUsesTheUsersDictionaryAndSnippets) {
    std::filesystem::create_directories(home.file(".dictation"));
    test::writeFixture(home.file(".dictation/learned-words.txt"), "Postgres\n");
    test::writeFixture(home.file(".dictation/snippets"), "sig = Best,\\nSam\n");
    BinaryOptions o = options();
    o.input = "we use postgress daily snippet sig";
    const auto run = runVak({"--format-stdin"}, o);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "We use Postgres daily Best,\nSam.\n");
    EXPECT_NE(run.err.find("] \xe2\x89\x88 sound-alike corrected to Postgres\n"),
              std::string::npos);
    EXPECT_EQ(readFixture(home.file(".dictation/.variant-candidates")), "Postgres|postgress\n");
}

TEST_F(Cli, AFlagMissingItsArgumentCountsAsUnknown) {
    // Unknown flags start the daemon, which without a display says so and ends.
    auto noDisplay = options();
    noDisplay.unsetEnv = {"DISPLAY"};
    for (const char* flag : {"--transcribe-file", "--local-mode", "--local-command", "--chunk-sim",
                             "--spec-sim", "--caption-sim", "--bogus"}) {
        const auto run = runVak({flag}, noDisplay);
        EXPECT_EQ(run.exitCode, 1) << flag;
        EXPECT_NE(run.err.find("‼️ no X11 display"), std::string::npos) << flag;
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

} // namespace
} // namespace vak
