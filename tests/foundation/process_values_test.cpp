#include "base/files.h"
#include "foundation/process_values.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

void makeTool(const std::string& path, mode_t mode = 0755) {
    test::writeFixture(path, "#!/bin/sh\n");
    chmod(path.c_str(), mode);
}

// Tool path folders in order (empty pieces and files that are not executable skipped), then the
// engine folder, then the standard prefixes; a tool found nowhere has no path.
TEST(Which, ToolPathFoldersComeFirstInOrderThenTheEngineFolderThenTheStandardPrefixes) {
    const test::TempDir a;
    const test::TempDir b;
    const test::TempDir c;
    makeTool(a.file("whisper-cli"));
    makeTool(b.file("whisper-cli"));
    makeTool(c.file("whisper-cli"), 0644);
    EXPECT_EQ(_which("whisper-cli", "::" + c.path() + "::" + b.path() + "/:" + a.path()),
              b.file("whisper-cli"));
    EXPECT_EQ(_which("sh", c.path()),
              isExecutableFile("/usr/local/bin/sh") ? "/usr/local/bin/sh" : "/usr/bin/sh");
    EXPECT_EQ(_which("vak-no-such-tool-anywhere", ""), "");
    const std::string engine = processValues().ENGINE_DIR + "/bin/vak-engine-probe";
    makeDirectories(processValues().ENGINE_DIR + "/bin");
    makeTool(engine);
    EXPECT_EQ(_which("vak-engine-probe"), engine);
}

} // namespace
} // namespace vak
