#include "base/subprocess.h"
#include "base/time_util.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> child(std::initializer_list<std::string> args) {
    std::vector<std::string> argv{VAK_TEST_CHILD};
    argv.insert(argv.end(), args);
    return argv;
}

// Far more than a pipe holds, both ways at once; output beyond the cap is dropped unblocked.
TEST(Subprocess, FeedsAndCapturesLargeStreamsWithoutDeadlockUpToTheCap) {
    std::string input(3 << 20, '\0');
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<char>('a' + i % 26);
    RunOptions options;
    options.input = input;
    options.timeoutSeconds = 20;
    for (const std::size_t cap : {input.size(), std::size_t{1000}}) {
        options.maxOutputBytes = cap;
        const auto echoed = runProcess(child({"echo"}), options);
        ASSERT_TRUE(echoed);
        EXPECT_TRUE(echoed->status.success());
        EXPECT_TRUE(echoed->output == input.substr(0, cap));
    }
}

// Exits and signals are told apart; a hung child ends at the time limit, a cancelled run soon
// (one that ignores termination is killed after the grace period); a missing program is named.
TEST(Subprocess, ReportsHowARunEndedAndStopsATimedOutOrCancelledOneSoon) {
    struct Case {
        std::vector<std::string> argv;
        bool pipes;
        double timeout; // the run is cancelled after 0.3 s
        int signal;     // 0: exited with `code`
        int code;
    };
    const Case cases[] = {
        {child({"exit", "7"}), true, 30, 0, 7},
        {child({"raise", std::to_string(SIGUSR1)}), true, 30, SIGUSR1, SIGUSR1},
        {child({"sleep", "30"}), true, 0.3, SIGTERM, SIGTERM},
        {child({"sleep", "30"}), true, 30, SIGTERM, SIGTERM},
        {child({"sleep", "30"}), false, 30, SIGTERM, SIGTERM},
        {child({"stubborn", "30"}), false, 30, SIGKILL, SIGKILL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv[1] + (c.pipes ? " with pipes" : " without"));
        std::atomic<bool> cancel{false};
        RunOptions options;
        options.timeoutSeconds = c.timeout;
        options.killGraceSeconds = 0.3;
        options.captureOutput = c.pipes;
        options.cancel = &cancel;
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (c.timeout > 1) cancel.store(true);
        });
        const auto start = Clock::now();
        auto result = runProcess(c.argv, options);
        const double elapsed = secondsSince(start);
        later.join();
        ASSERT_TRUE(result);
        const bool stopped = c.signal != 0 && c.signal != SIGUSR1;
        EXPECT_EQ(result->cancelled, stopped && c.timeout > 1);
        EXPECT_EQ(result->timedOut, c.timeout < 1);
        EXPECT_EQ(result->status.signaled(), c.signal != 0);
        EXPECT_EQ(result->status.code, c.code);
        EXPECT_LT(elapsed, 2.0);
    }
    std::string error;
    EXPECT_FALSE(runProcess({"/nonexistent/whisper-cli", "-h"}, {}, &error));
    EXPECT_NE(error.find("/nonexistent/whisper-cli"), std::string::npos);
}

// The test process ignores SIGPIPE and holds descriptors of its own; neither may leak.
TEST(Subprocess, ChildGetsOnlyStandardDescriptorsAndDefaultSignals) {
    int stray[2];
    ASSERT_EQ(pipe(stray), 0); // deliberately without close-on-exec
    const auto fds = runProcess(child({"fds"}), {});
    close(stray[0]);
    close(stray[1]);
    ASSERT_TRUE(fds);
    EXPECT_EQ(fds->output, "");
    const auto sigpipe = runProcess(child({"sigpipe"}), {});
    ASSERT_TRUE(sigpipe);
    EXPECT_EQ(sigpipe->output, "default");
}

// A waiter on another thread owns the stubborn child, as a decode race's loser would.
TEST(Subprocess, StoppingRunningChildrenReachesAbandonedOnesOnly) {
    std::optional<ProcessResult> stubborn;
    std::thread owner([&] {
        RunOptions options;
        options.timeoutSeconds = 60;
        stubborn = runProcess(child({"stubborn", "30"}), options);
    });
    ASSERT_TRUE(runProcess(child({"exit", "0"}), {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let it ignore SIGTERM first
    const auto start = Clock::now();
    EXPECT_EQ(stopRunningChildren(0.3), 1);
    owner.join();
    ASSERT_TRUE(stubborn);
    EXPECT_EQ(stubborn->status.code, SIGKILL);
    EXPECT_FALSE(stubborn->timedOut); // it was not the watchdog
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_EQ(stopRunningChildren(0.3), 0);
}

} // namespace
} // namespace vak
