#include "base/files.h"
#include "base/log.h"
#include "base/regex.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <atomic>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

// Points the log at a private file for one test, and stderr at a file too.
class LogTest : public testing::Test {
  protected:
    void SetUp() override {
        savedStderr = dup(STDERR_FILENO);
        const int captured = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(captured, STDERR_FILENO);
        close(captured);
    }
    void TearDown() override {
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
    }

    test::TempDir dir;
    test::LogCapture capture;
    std::string logPath = capture.path();
    std::string stderrPath = dir.file("stderr");
    int savedStderr = -1;
};

// The same bytes to the file and to stderr; an unwritable log still reaches stderr. An outside
// tool's failure is a serious one.
TEST_F(LogTest, WritesTheSameBytesToFileAndStderrAndCreatesTheFilePrivate) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(formatLogLine(1772874303, "✓ pasted"), "[03-07 09:05:03] ✓ pasted\n"); // 2026
    EXPECT_EQ(LogLevel::toolError.severity, Severity::serious);
    log(LogLevel::banner, "first");
    log(LogLevel::info, "second");
    const std::string written = readFixture(logPath);
    EXPECT_EQ(written, readFixture(stderrPath));
    EXPECT_TRUE(regexFullMatch(written, "\\[\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ▶ first\\n"
                                        "\\[\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] · second\\n"));
    EXPECT_EQ(filePermissions(logPath), 0600u);
    setLogPath(dir.file("missing-folder/vak.log"));
    log(LogLevel::warning, "still visible");
    EXPECT_NE(readFixture(stderrPath).find("] ⚠️ still visible\n"), std::string::npos);
}

// Said once each, and the link's target is never written.
TEST_F(LogTest, ALinkOrFifoAtTheLogPathIsNeverWrittenThrough) {
    const std::string victim = dir.file("victim");
    writeFixture(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), dir.file("linked.log").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.log").c_str(), 0600), 0);
    for (const char* name : {"linked.log", "fifo.log"}) {
        setLogPath(dir.file(name));
        log(LogLevel::info, "one");
        log(LogLevel::info, "two");
    }
    EXPECT_EQ(readFixture(victim), "precious");
    const std::string err = readFixture(stderrPath);
    for (const std::string said :
         {"linked.log is a link, not a log file: lines go to standard error",
          "fifo.log is a FIFO, not a log file"}) {
        EXPECT_NE(err.find(said), std::string::npos) << err;
        EXPECT_EQ(err.find(said, err.find(said) + 1), std::string::npos) << err;
    }
    EXPECT_NE(err.find("] · two\n"), std::string::npos);
}

// Long lines from many threads never tear, and editing the log meanwhile loses none (a line
// appended to the replaced file between the edit's read and its rename would vanish). An edit
// that declines leaves the file as it is.
TEST_F(LogTest, LinesFromManyThreadsSurviveEditingWholeAndInOrder) {
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    const auto body = [](std::size_t t) { return std::string(2000, static_cast<char>('a' + t)); };
    std::atomic<int> writing{kThreads};
    std::vector<std::thread> writers;
    for (std::size_t t = 0; t < kThreads; ++t) {
        writers.emplace_back([t, &body, &writing] {
            for (int i = 0; i < kLines; ++i)
                log(LogLevel::info,
                    "t" + std::to_string(t) + " " + body(t) + " " + std::to_string(i));
            --writing;
        });
    }
    for (int edits = 0; writing > 0 || edits == 0; ++edits)
        editLogFile(logPath, [](const std::optional<std::string>& bytes) { return bytes; });
    for (auto& writer : writers)
        writer.join();
    for (const auto& path : {logPath, stderrPath}) {
        std::istringstream lines(readFixture(path));
        std::vector<int> next(kThreads);
        for (std::string line; std::getline(lines, line);) {
            const auto m = regexFirstMatch(line, "^\\[[^\\]]+\\] · t(\\d) ([a-z]+) (\\d+)$");
            ASSERT_TRUE(m) << "torn line in " << path;
            const auto t = std::stoul(m->group(1));
            EXPECT_EQ(m->group(2), body(t));
            EXPECT_EQ(std::stoi(m->group(3)), next.at(t)++);
        }
        EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
    }
    EXPECT_EQ(filePermissions(logPath), 0600u);

    writeFixture(logPath, "kept\n");
    const auto decline = [](const std::optional<std::string>& bytes) {
        EXPECT_EQ(bytes.has_value(), bytes == "kept\n");
        return std::optional<std::string>();
    };
    EXPECT_FALSE(editLogFile(dir.file("absent.log"), decline));
    EXPECT_FALSE(editLogFile(logPath, decline));
    EXPECT_EQ(readFixture(logPath), "kept\n");
}

} // namespace
} // namespace vak
