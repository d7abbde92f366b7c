#include "base/files.h"
#include "base/unicode.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "support/temp_dir.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::TempDir;
using test::writeFixture;

void makeTool(const std::string& path, mode_t mode = 0755) {
    writeFixture(path, "#!/bin/sh\n");
    chmod(path.c_str(), mode);
}

TEST(Which, ToolPathFoldersComeFirstInOrderThenTheStandardPrefixes) {
    TempDir a;
    TempDir b;
    makeTool(b.file("whisper-cli"));
    makeTool(a.file("whisper-cli"));
    EXPECT_EQ(_which("whisper-cli", a.path() + ":" + b.path()), a.file("whisper-cli"));
    EXPECT_EQ(_which("whisper-cli", b.path() + "/:" + a.path()), b.file("whisper-cli"));
    // Empty pieces are skipped; a file that is not executable does not count.
    TempDir c;
    makeTool(c.file("whisper-cli"), 0644);
    EXPECT_EQ(_which("whisper-cli", "::" + c.path() + "::" + a.path()), a.file("whisper-cli"));
    // Folders named by a tool path never shadow the standard prefixes unless they hold it.
    EXPECT_EQ(_which("sh", c.path()),
              isExecutableFile("/usr/local/bin/sh") ? "/usr/local/bin/sh" : "/usr/bin/sh");
}

TEST(Which, AMissingToolHasNoPath) {
    EXPECT_EQ(_which("vak-no-such-tool-anywhere", ""), "");
}

TEST(ProcessValues, PathsHangOffTheHomeAndTheConfigurationIsWritten) {
    const auto& v = processValues();
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(v.HOME, home);
    EXPECT_EQ(v.MODEL, home + "/.whisper-models/ggml-large-v3-turbo-q5_0.bin");
    EXPECT_EQ(v.VAD_MODEL, home + "/.whisper-models/ggml-silero-v5.1.2.bin");
    // The engine folder --setup-engine fills is searched after VAK_TOOL_PATH.
    EXPECT_EQ(v.ENGINE_DIR, home + "/.local/share/vak-dictate/engine");
    makeDirectories(v.ENGINE_DIR + "/bin");
    makeTool(v.ENGINE_DIR + "/bin/vak-engine-probe");
    EXPECT_EQ(_which("vak-engine-probe"), v.ENGINE_DIR + "/bin/vak-engine-probe");
    EXPECT_EQ(v.LOG, home + "/.dictation/vak.log");
    EXPECT_EQ(v.CONFIG_PATH, home + "/.dictation/config");
    EXPECT_EQ(v.scratch.recording(1), std::string(std::getenv("VAK_TMPDIR")) + "/vak_rec_1.wav");
    EXPECT_TRUE(pathExists(v.CONFIG_PATH)); // written at start
    EXPECT_EQ(v.cfg, Config::defaults(home));
}

TEST(ProcessValues, VocabularyHintHasItsFixedLength) {
    EXPECT_EQ(graphemeCount(VOCAB_PROMPT), 277u);
    EXPECT_EQ(APP_VERSION, "8.28");
}

} // namespace
} // namespace vak
