#include "base/files.h"
#include "producer/producer_link.h"
#include "support/temp_dir.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

// The inbox is written only where a producer listens, for its user alone. The panel shows the
// records of both files in time order, damaged and unfinished lines skipped, from the last 8192
// bytes (which may start inside a character) and the last eight lines only.
TEST(Producer, TheInboxIsWrittenWhereAProducerListensAndThePanelShowsItsNewestWholeRecords) {
    test::TempDir dir;
    const std::string inbox = dir.file("producer/inbox.jsonl");
    const std::string outbox = dir.file("producer/outbox.jsonl");
    EXPECT_EQ(producerPanelText(inbox, outbox, 0), "🎛 listening — talk to me");
    producerInboxEvent(inbox, "session-start", 100.5);
    EXPECT_FALSE(pathExists(inbox));
    std::filesystem::create_directory(dir.file("producer"));
    producerInboxEvent(inbox, "session-start", 100.5);
    producerInboxEvent(inbox, "session-end", 160.25);
    EXPECT_EQ(readFixture(inbox), "{\"event\":\"session-start\",\"ts\":100.5}\n"
                                  "{\"event\":\"session-end\",\"ts\":160.25}\n");
    EXPECT_EQ(filePermissions(inbox), 0600u);

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

    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "{\"ts\":" + std::to_string(2000 + i) + ",\"said\":\"line " + std::to_string(i) +
                " ✓ ééé\"}\n";
    writeFixture(outbox, text);
    EXPECT_LT(producerTail(outbox, true).size(), 8192u / 30);
    const std::string panel = producerPanelText(dir.file("none"), outbox, 0);
    EXPECT_EQ(std::count(panel.begin(), panel.end(), '\n'), 7);
    EXPECT_TRUE(panel.starts_with("Durad Ave: line 392 ✓ ééé\n")) << panel;
    EXPECT_TRUE(panel.ends_with("Durad Ave: line 399 ✓ ééé")) << panel;
}

} // namespace
} // namespace vak
