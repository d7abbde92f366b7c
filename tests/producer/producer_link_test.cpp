#include "base/files.h"
#include "producer/producer_link.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

TEST(ProducerInbox, FirstEventCreatesTheInboxWithOneLineAndLaterOnesAppend) {
    TempDir dir;
    const std::string inbox = dir.file("producer/inbox.jsonl");
    producerInboxEvent(inbox, "session-start", 100.5);
    EXPECT_FALSE(pathExists(inbox)); // no producer folder: nobody to tell

    std::filesystem::create_directory(dir.file("producer"));
    producerInboxEvent(inbox, "session-start", 100.5);
    producerInboxEvent(inbox, "session-end", 160.25);
    EXPECT_EQ(readFixture(inbox), "{\"event\":\"session-start\",\"ts\":100.5}\n"
                                  "{\"event\":\"session-end\",\"ts\":160.25}\n");
    EXPECT_EQ(filePermissions(inbox), 0600u);
}

TEST(ProducerPanel, ShowsRecentRecordsOfBothFilesInTimeOrder) {
    TempDir dir;
    const std::string inbox = dir.file("inbox.jsonl");
    const std::string outbox = dir.file("outbox.jsonl");
    writeFixture(inbox, "{\"ts\":1000,\"event\":\"session-start\"}\n");
    writeFixture(outbox, "{\"ts\":990,\"said\":\"too old\"}\n"
                         "{\"ts\":1002,\"said\":\"hello\"}\n"
                         "{\"ts\":1001,\"heard\":\"hi there\"}\n"
                         "{\"ts\":1003,\"said\":\"\",\"event\":\"thinking\"}\n"
                         "[1,2,3]\n"
                         "{\"ts\":1004,\"said\":\"\"}\n"
                         "{\"ts\":\"1005\",\"said\":\"no number\"}\n"
                         "{\"ts\":1006,\"said\":\"partial");
    EXPECT_EQ(producerPanelText(inbox, outbox, 997),
              "· session-start\nMe: hi there\nDurad Ave: hello\n· thinking");
    EXPECT_EQ(producerPanelText(dir.file("none"), dir.file("none2"), 997),
              "🎛 listening — talk to me");
}

TEST(ProducerPanel, ReadsOnlyTheLast8192BytesAndShowsAtMost8Lines) {
    TempDir dir;
    const std::string outbox = dir.file("outbox.jsonl");
    std::string text;
    for (int i = 0; i < 400; ++i) {
        // Multi-byte characters, so the window is likely to start inside one.
        text += "{\"ts\":" + std::to_string(2000 + i) + ",\"said\":\"line " + std::to_string(i) +
                " ✓ ééé\"}\n";
    }
    writeFixture(outbox, text);
    ASSERT_GT(text.size(), 8192u);
    const auto entries = producerTail(outbox, true);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().line, "Durad Ave: line 399 ✓ ééé");
    EXPECT_LT(entries.size(), 400u);
    std::size_t windowBytes = 0;
    for (const auto& e : entries)
        windowBytes += e.line.size();
    EXPECT_LE(windowBytes, 8192u);

    const std::string panel = producerPanelText(dir.file("none"), outbox, 0);
    EXPECT_EQ(std::count(panel.begin(), panel.end(), '\n'), 7);
    EXPECT_EQ(panel.substr(0, 23), "Durad Ave: line 392 ✓");
}

TEST(ProducerTools, AToolRunsInTheBackgroundAndIsReaped) {
    TempDir dir;
    const std::string marker = dir.file("ran");
    runTool("/usr/bin/touch", {marker});
    EXPECT_TRUE(test::waitUntil([&] { return pathExists(marker); }, 2));
    runTool("/nonexistent/producer-ctl", {"ears-on"}); // ignored
}

} // namespace
} // namespace vak
