#include "base/files.h"
#include "session/mode_memory.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

class ModeMemory : public testing::Test {
  protected:
    void pick(std::string_view app, DeliverMode mode, int times = 1) {
        for (int i = 0; i < times; ++i)
            recordModePick(path, app, mode);
    }
    TempDir dir;
    std::string path = dir.file("mode-usage");
};

TEST_F(ModeMemory, NeedsThreePicksOfWhichSixtyPercentAgree) {
    pick("com.apple.mail", DeliverMode::professional, 2);
    EXPECT_EQ(learnedModeFor(path, "com.apple.mail"), std::nullopt);
    pick("com.apple.mail", DeliverMode::summarize);
    EXPECT_EQ(learnedModeFor(path, "com.apple.mail"), DeliverMode::professional);
    EXPECT_EQ(readFixture(path), "com.apple.mail\tprofessional\ncom.apple.mail\tprofessional\n"
                                 "com.apple.mail\tsummarize\n");
    EXPECT_EQ(filePermissions(path), 0600u);

    pick("slack", DeliverMode::professional);
    pick("slack", DeliverMode::summarize);
    pick("slack", DeliverMode::raw);
    pick("slack", DeliverMode::professional);
    pick("slack", DeliverMode::summarize);
    EXPECT_EQ(learnedModeFor(path, "slack"), std::nullopt); // 2 of 5
    EXPECT_EQ(learnedModeFor(path, "other"), std::nullopt);
    EXPECT_EQ(learnedModeFor(path, ""), std::nullopt);
}

TEST_F(ModeMemory, OnlyTheNewest200LinesOfTheWholeFileCount) {
    pick("term", DeliverMode::agent, 3);
    pick("mail", DeliverMode::raw, 197);
    EXPECT_EQ(learnedModeFor(path, "term"),
              DeliverMode::agent); // all three are within the newest 200
    pick("mail", DeliverMode::raw);
    EXPECT_EQ(learnedModeFor(path, "term"), std::nullopt); // one pick fell out of the window
}

TEST_F(ModeMemory, MalformedLinesAreSkippedAndBadFieldsNeverWritten) {
    writeFixture(path, "term\tagent\textra\nterm\tagent\nbroken line\n\nterm\tagent\n");
    EXPECT_EQ(learnedModeFor(path, "term"), std::nullopt); // two valid picks only
    pick("term", DeliverMode::agent);
    EXPECT_EQ(learnedModeFor(path, "term"), DeliverMode::agent);
    const std::string before = readFixture(path);
    pick("term\tforged", DeliverMode::agent);
    pick("term\nother", DeliverMode::agent);
    pick("", DeliverMode::agent);
    EXPECT_EQ(readFixture(path), before);
    // A hand-edited name that is no mode's means no learned mode.
    writeFixture(path, "mail\tfancy\nmail\tfancy\nmail\tfancy\n");
    EXPECT_EQ(learnedModeFor(path, "mail"), std::nullopt);
}

TEST_F(ModeMemory, FileIsTrimmedToItsNewest500LinesPast1000) {
    for (int i = 0; i < 1001; ++i)
        recordModePick(path, "app" + std::to_string(i), DeliverMode::raw);
    const std::string text = readFixture(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 500);
    EXPECT_EQ(text.substr(0, 11), "app501\tnorm");
    EXPECT_EQ(text.substr(text.size() - 15), "app1000\tnormal\n");
}

} // namespace
} // namespace vak
