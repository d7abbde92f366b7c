#include "base/files.h"
#include "history/retention.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
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
    std::vector<std::string> sweep(const std::string& path, const std::string& content, int days) {
        writeFixture(path, content);
        ::chmod(path.c_str(), 0644);
        written = inode(path);
        test::LogCapture local;
        retentionSweep({historyPath, logPath}, days, kNow);
        return local.messages();
    }

    test::TempDir dir;
    std::string historyPath = dir.file("history.enc");
    std::string logPath = dir.file("log");
    ino_t written{};
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
        // Blank lines and a missing final line break are not worth a rewrite.
        {recent + "\n" + partial, recent + "\n" + partial, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        const auto logged = sweep(historyPath, c.before, 7);
        EXPECT_EQ(readFixture(historyPath), c.after);
        if (c.removed == 0) {
            EXPECT_EQ(inode(historyPath), written);
            EXPECT_TRUE(logged.empty());
            continue;
        }
        EXPECT_EQ(filePermissions(historyPath), 0600);
        EXPECT_EQ(logged,
                  std::vector<std::string>{"· retention: removed " + std::to_string(c.removed) +
                                           " history entries past 7 days"});
    }
    // Zero days deletes the history and leaves the log uncapped.
    const std::string longLog = numberedLines(1, 4500);
    writeFixture(historyPath, record(0));
    sweep(logPath, longLog, 0);
    EXPECT_FALSE(pathExists(historyPath));
    EXPECT_EQ(readFixture(logPath), longLog);
}

TEST_F(RetentionTest, LogCapKeepsTheLast2000LinesOfALogPast4000) {
    const std::string notUtf8 =
        numberedLines(1, 3000) + "[01-02 03:04:05] \xc3\x28 bad\n" + numberedLines(3001, 6000);
    const std::pair<std::string, std::string> cases[] = {
        {numberedLines(1, 4000), numberedLines(1, 4000)},
        {notUtf8, notUtf8}, // left alone
        {numberedLines(1, 4001), numberedLines(2002, 4001)},
        // A last line without its line break gets one.
        {numberedLines(1, 4000) + "tail", numberedLines(2002, 4000) + "tail\n"},
        {std::string(4001, '\n'), std::string(2000, '\n')},
    };
    for (const auto& [log, expected] : cases) {
        sweep(logPath, log, 7);
        EXPECT_EQ(readFixture(logPath), expected) << log.size();
        if (log != expected) {
            EXPECT_EQ(filePermissions(logPath), 0600);
        }
    }
}

} // namespace
} // namespace vak
