#include "app/config.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

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

TEST_F(Cli, ModesNotBuiltYetSayItInOneLineAndExit3) {
    const auto run = runVak({"--format-stdin"}, options());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vak-dictate: --format-stdin is not available in this build yet\n");
}

TEST_F(Cli, AFlagMissingItsArgumentCountsAsUnknown) {
    for (const char* flag : {"--transcribe-file", "--local-mode", "--local-command", "--chunk-sim",
                             "--spec-sim", "--caption-sim", "--bogus"}) {
        const auto run = runVak({flag}, options());
        EXPECT_EQ(run.exitCode, 2) << flag; // the daemon path, which is not built yet
        EXPECT_NE(run.err.find("daemon"), std::string::npos) << flag;
    }
    // With its argument the same flag is recognised.
    EXPECT_EQ(runVak({"--caption-sim", "x.wav"}, options()).exitCode, 3);
    // --mic-check takes an optional argument.
    EXPECT_EQ(runVak({"--mic-check"}, options()).exitCode, 3);
}

} // namespace
} // namespace vak
