#include "base/files.h"
#include "base/log.h"
#include "base/regex.h"
#include "foundation/process_values.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <atomic>
#include <map>
#include <sstream>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
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

    TempDir dir;
    test::LogCapture capture;
    std::string logPath = capture.path();
    std::string stderrPath = dir.file("stderr");
    int savedStderr = -1;
};

TEST(LogLine, FormatIsBracketedLocalTimeThenMessage) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 2; // March
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 3;
    when.tm_isdst = -1;
    EXPECT_EQ(formatLogLine(std::mktime(&when), "✓ pasted"), "[03-07 09:05:03] ✓ pasted\n");
}

TEST_F(LogTest, WritesTheSameBytesToFileAndStderrAndCreatesTheFilePrivate) {
    log(LogLevel::banner, "first");
    log(LogLevel::info, "second");
    const std::string written = readFixture(logPath);
    EXPECT_EQ(written, readFixture(stderrPath));
    EXPECT_TRUE(regexFullMatch(written, "\\[\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ▶ first\\n"
                                        "\\[\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] · second\\n"));
    EXPECT_EQ(filePermissions(logPath), 0600u);
    // An unwritable log still reaches stderr.
    setLogPath(dir.file("missing-folder/vak.log"));
    log(LogLevel::warning, "still visible");
    EXPECT_NE(readFixture(stderrPath).find("] ⚠️ still visible\n"), std::string::npos);
}

// The glyphs are the log file's format (readers grep for them): a line shows its topic's glyph,
// else its severity's, and an outside tool's failure is a serious one that keeps its own.
TEST(LogGlyphs, EachKindStartsWithItsGlyph) {
    const std::pair<LogLevel, std::string_view> rows[] = {
        {LogLevel::ok, "✓"},           {LogLevel::warning, "⚠️"},
        {LogLevel::serious, "‼️"}, {LogLevel::toolError, "!!"},
        {LogLevel::abandoned, "✕"},    {LogLevel::info, "·"},
        {LogLevel::recording, "●"},    {LogLevel::stopped, "■"},
        {LogLevel::timer, "⏱"},        {LogLevel::fast, "⚡"},
        {LogLevel::cloud, "☁"},        {LogLevel::audio, "♪"},
        {LogLevel::soundAlike, "≈"},   {LogLevel::command, "🎯"},
        {LogLevel::banner, "▶"},       {LogLevel::testSignal, "⌨︎"},
        {LogLevel::question, "?"},     {LogLevel::nothing, "…"},
        {LogLevel::producer, "🎛"},  {LogLevel::privacy, "🔒"},
    };
    for (const auto& [level, glyph] : rows)
        EXPECT_EQ(logGlyph(level), glyph);
    EXPECT_EQ(LogLevel::toolError.severity, Severity::serious);
}

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
    EXPECT_NE(err.find("linked.log is a link, not a log file: lines go to standard error only"),
              std::string::npos);
    EXPECT_NE(err.find("fifo.log is a FIFO, not a log file"), std::string::npos);
    EXPECT_EQ(err.find("fifo.log is a FIFO", err.find("fifo.log is a FIFO") + 1),
              std::string::npos);
    EXPECT_NE(err.find("] · two\n"), std::string::npos);
    // Editing does not read through it either.
    bool sawBytes = true;
    editLogFile(dir.file("linked.log"), [&](const std::optional<std::string>& bytes) {
        sawBytes = bytes.has_value();
        return std::optional<std::string>();
    });
    EXPECT_FALSE(sawBytes);
}

TEST_F(LogTest, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            // Long lines make a torn write likely if writes were split.
            const std::string body(3000 + t * 100, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i)
                log(LogLevel::info, "t" + std::to_string(t) + " " + body);
        });
    }
    for (auto& th : threads)
        th.join();

    for (const auto& path : {logPath, stderrPath}) {
        std::istringstream lines(readFixture(path));
        std::string line;
        std::map<int, int> perThread;
        while (std::getline(lines, line)) {
            auto match = regexFirstMatch(line, "^\\[[^\\]]+\\] · t(\\d) ([a-z]+)$");
            ASSERT_TRUE(match) << "torn line in " << path;
            const int t = std::stoi(match->group(1));
            EXPECT_EQ(match->group(2), std::string(3000 + t * 100, static_cast<char>('a' + t)));
            ++perThread[t];
        }
        ASSERT_EQ(perThread.size(), static_cast<std::size_t>(kThreads));
        for (const auto& [t, count] : perThread)
            EXPECT_EQ(count, kLines);
    }
}

TEST_F(LogTest, EditingTheLogLosesNoLineLoggedMeanwhileAndADeclinedEditChangesNothing) {
    constexpr int kLines = 3000;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < kLines; ++i)
            log(LogLevel::info, "n" + std::to_string(i));
        writing = false;
    });
    int edits = 0;
    while (writing || edits == 0) {
        // Rewrites the file with what it holds: any line appended to the replaced file between
        // the read and the rename would vanish.
        editLogFile(logPath, [](const std::optional<std::string>& bytes) { return bytes; });
        ++edits;
    }
    writer.join();

    std::istringstream lines(readFixture(logPath));
    std::string line;
    int expected = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.substr(line.find("] ") + 2), "· n" + std::to_string(expected));
        ++expected;
    }
    EXPECT_EQ(expected, kLines);
    EXPECT_EQ(filePermissions(logPath), 0600u);

    // An edit that declines leaves the file as it is.
    writeFixture(logPath, "kept\n");
    bool sawNothing = false;
    EXPECT_FALSE(editLogFile(dir.file("absent.log"), [&](const std::optional<std::string>& bytes) {
        sawNothing = !bytes;
        return std::optional<std::string>();
    }));
    EXPECT_TRUE(sawNothing);
    EXPECT_FALSE(editLogFile(
        logPath, [](const std::optional<std::string>&) { return std::optional<std::string>(); }));
    EXPECT_EQ(readFixture(logPath), "kept\n");
}

} // namespace
} // namespace vak
