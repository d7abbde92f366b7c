#include "base/files.h"
#include "history/legacy_purge.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::LogCapture;
using test::readFixture;
using test::TempDir;
using test::writeFixture;

std::string purgeLine(int count) {
    return "🔒 privacy migration: removed " + std::to_string(count) +
           " plaintext transcripts and retained clips from earlier versions";
}

class LegacyPurgeTest : public testing::Test {
  protected:
    void purge() { purgeLegacyPlaintext({logged.path(), markerPath, clipPath}); }
    std::vector<std::string> purgeMessages() const {
        std::vector<std::string> result;
        for (const auto& message : logged.messages()) {
            const auto at = message.find("🔒");
            if (at != std::string::npos) result.push_back(message.substr(at));
        }
        return result;
    }

    LogCapture logged;
    TempDir dir;
    std::string markerPath = dir.file(".privacy_migrated");
    std::string clipPath = dir.file("vak_last.wav");
};

TEST_F(LegacyPurgeTest, RemovesEveryLineThatHoldsTranscriptTextAndTheRetainedClip) {
    writeFixture(logged.path(), "[01-01 10:00:00] ▶ vak up\n"
                                "[01-01 10:00:05] ✓ pasted: buy milk and eggs\n"
                                "[01-01 10:00:06] ✓ raw 4 words · 1a2b3c\n"
                                "\n"
                                "[01-01 10:00:07] ☁ engine · raw: the whole transcript\n"
                                "[01-01 10:00:08] 🎯 · cmd instruction: make it shorter\n"
                                "[01-01 10:00:09] ⚠️ mic swap ✓ not a transcript\n"
                                "[01-01 10:00:10] · rawness: fine\n"
                                "last line without break");
    ::chmod(logged.path().c_str(), 0644);
    writeFixture(clipPath, "RIFF");
    purge();
    const std::string kept = "[01-01 10:00:00] ▶ vak up\n"
                             "\n"
                             "[01-01 10:00:09] ⚠️ mic swap ✓ not a transcript\n"
                             "[01-01 10:00:10] · rawness: fine\n"
                             "last line without break";
    // The report is appended after what was kept.
    EXPECT_EQ(readFixture(logged.path()).substr(0, kept.size()), kept);
    EXPECT_EQ(filePermissions(logged.path()), 0600);
    EXPECT_FALSE(pathExists(clipPath));
    EXPECT_EQ(purgeMessages(), std::vector<std::string>{purgeLine(5)});
    EXPECT_TRUE(pathExists(markerPath));
}

TEST_F(LegacyPurgeTest, RunsOnceThenLeavesTheLogAlone) {
    purge(); // no log, no clip: reports 0 and leaves the marker
    EXPECT_EQ(purgeMessages(), std::vector<std::string>{purgeLine(0)});
    ASSERT_TRUE(pathExists(markerPath));

    const std::string later =
        readFixture(logged.path()) + "[01-02 10:00:00] ✓ raw 2 words · abcdef\n";
    writeFixture(logged.path(), later);
    writeFixture(clipPath, "RIFF");
    purge();
    EXPECT_EQ(readFixture(logged.path()), later);
    EXPECT_TRUE(pathExists(clipPath));
}

TEST_F(LegacyPurgeTest, LogThatIsNotUtf8IsLeftAloneButTheRestGoesOn) {
    const std::string log = "[01-01 10:00:05] ✓ pasted: hello\n\xff\xfe binary\n";
    writeFixture(logged.path(), log);
    writeFixture(clipPath, "RIFF");
    purge();
    const std::string after = readFixture(logged.path());
    EXPECT_EQ(after.substr(0, log.size()), log);
    EXPECT_FALSE(pathExists(clipPath));
    EXPECT_TRUE(pathExists(markerPath));
    EXPECT_EQ(purgeMessages(), std::vector<std::string>{purgeLine(1)});
}

} // namespace
} // namespace vak
