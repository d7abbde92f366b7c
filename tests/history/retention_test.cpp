#include "base/files.h"
#include "history/retention.h"
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

constexpr double kNow = 1750000000.25;
constexpr double kDay = 86400;

std::string record(double secondsAgo, std::string_view sealed = "c2VhbGVk") {
    return std::to_string(static_cast<long long>(kNow - secondsAgo)) + "\t" + std::string(sealed) +
           "\n";
}

std::string numberedLines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i)
        text += "[01-02 03:04:05] · line " + std::to_string(i) + "\n";
    return text;
}

ino_t inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

class RetentionTest : public testing::Test {
  protected:
    void sweep(int days) { retentionSweep({historyPath, logged.path()}, days, kNow); }
    // The log's messages besides the fixture lines the test wrote into it.
    std::vector<std::string> sweepMessages() const {
        std::vector<std::string> result;
        for (const auto& message : logged.messages())
            if (message.rfind("· line ", 0) != 0) result.push_back(message);
        return result;
    }

    LogCapture logged;
    TempDir dir;
    std::string historyPath = dir.file("history.enc");
};

TEST_F(RetentionTest, RemovesRecordsPastTheLimitOrWithDamagedTimesAndKeepsTheRest) {
    struct Case {
        std::string before, after;
        int removed;
    };
    const std::string recent = record(kDay);
    const std::string partial = record(kDay).substr(0, 15); // time, tab, half a box
    const Case cases[] = {
        {record(10 * kDay, "b2xk") + record(3 * kDay, "bmV3"), record(3 * kDay, "bmV3"), 1},
        // now − 7 days is 1749395200.25: a record exactly at the limit stays; fractional times
        // parse like whole ones.
        {"1749395200.24\tb2xk\n1749395200.25\tZWRnZQ==\n+1749395201\tbmV3\n",
         "1749395200.25\tZWRnZQ==\n+1749395201\tbmV3\n", 1},
        {"abc\tc2VhbGVk\n\tc2VhbGVk\nno tab at all\ninf\tc2VhbGVk\nnan\tc2VhbGVk\n1e999\tc2VhbGVk\n"
         " 1750000000\tc2VhbGVk\n" +
             recent + "\n\n",
         recent, 7},
        // A cut-short last record is kept, on a line of its own.
        {record(30 * kDay) + record(2 * kDay) + partial, record(2 * kDay) + partial + "\n", 1},
        // Damaged bytes in one record do not exempt the others.
        {record(20 * kDay) + "\xff\xfe\tjunk\n" + recent, recent, 2},
    };
    std::vector<std::string> expectedLog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        writeFixture(historyPath, c.before);
        ::chmod(historyPath.c_str(), 0644);
        sweep(7);
        EXPECT_EQ(readFixture(historyPath), c.after);
        EXPECT_EQ(filePermissions(historyPath), 0600);
        expectedLog.push_back("· retention: removed " + std::to_string(c.removed) +
                              " history entries past 7 days");
        EXPECT_EQ(sweepMessages(), expectedLog);
    }
}

TEST_F(RetentionTest, NothingPastTheLimitLeavesTheFileUntouchedAndSilent) {
    // Blank lines and a missing final line break are not worth a rewrite either.
    const std::string content = record(kDay) + "\n" + record(2 * kDay).substr(0, 14);
    writeFixture(historyPath, content);
    const ino_t before = inode(historyPath);
    sweep(7);
    EXPECT_EQ(readFixture(historyPath), content);
    EXPECT_EQ(inode(historyPath), before);
    EXPECT_TRUE(sweepMessages().empty());
}

TEST_F(RetentionTest, ZeroDaysDeletesTheHistoryAndLeavesTheLogUncapped) {
    writeFixture(historyPath, record(0));
    const std::string longLog = numberedLines(1, 4500);
    writeFixture(logged.path(), longLog);
    sweep(0);
    EXPECT_FALSE(pathExists(historyPath));
    EXPECT_EQ(readFixture(logged.path()), longLog);
    sweep(0); // a missing history is no error
    EXPECT_FALSE(pathExists(historyPath));
}

TEST_F(RetentionTest, LogCapKeepsTheLast2000LinesOfALogPast4000) {
    struct Case {
        std::string log;
        std::string expected;
    };
    const std::string notUtf8 =
        numberedLines(1, 3000) + "[01-02 03:04:05] \xc3\x28 bad\n" + numberedLines(3001, 6000);
    const Case cases[] = {
        {numberedLines(1, 4000), numberedLines(1, 4000)},
        {notUtf8, notUtf8}, // left alone
        {numberedLines(1, 4001), numberedLines(2002, 4001)},
        {numberedLines(1, 9000), numberedLines(7001, 9000)},
        // A last line without its line break gets one.
        {numberedLines(1, 4000) + "tail", numberedLines(2002, 4000) + "tail\n"},
        // Empty lines are lines.
        {std::string(4001, '\n'), std::string(2000, '\n')},
    };
    for (const auto& c : cases) {
        writeFixture(logged.path(), c.log);
        ::chmod(logged.path().c_str(), 0644);
        sweep(7);
        EXPECT_EQ(readFixture(logged.path()), c.expected) << c.log.size();
        if (c.log != c.expected) {
            EXPECT_EQ(filePermissions(logged.path()), 0600);
        }
    }
}

} // namespace
} // namespace vak
