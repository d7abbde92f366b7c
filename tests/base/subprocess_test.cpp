#include "base/subprocess.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace vak {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> child(std::initializer_list<std::string> args) {
    std::vector<std::string> argv{VAK_TEST_CHILD};
    argv.insert(argv.end(), args);
    return argv;
}

bool isReaped(pid_t pid) {
    // Once reaped, the id is no child of ours any more.
    return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(Subprocess, ReportsExitCodesEndBySignalAndAMissingProgramApart) {
    auto ok = runProcess(child({"exit", "0"}), {});
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ok->status.success());

    auto failed = runProcess(child({"exit", "7"}), {});
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->status.exited());
    EXPECT_EQ(failed->status.code, 7);
    EXPECT_FALSE(failed->status.success());

    auto killed = runProcess(child({"raise", std::to_string(SIGUSR1)}), {});
    ASSERT_TRUE(killed);
    EXPECT_TRUE(killed->status.signaled());
    EXPECT_EQ(killed->status.code, SIGUSR1);
    EXPECT_FALSE(killed->timedOut);

    std::string error;
    EXPECT_FALSE(runProcess({"/nonexistent/whisper-cli", "-h"}, {}, &error));
    EXPECT_NE(error.find("/nonexistent/whisper-cli"), std::string::npos);
}

TEST(Subprocess, FeedsAndCapturesLargeStreamsWithoutDeadlockUpToTheCap) {
    // Far more than a pipe holds in both directions at once.
    std::string input(3 << 20, '\0');
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<char>('a' + i % 26);
    RunOptions options;
    options.input = input;
    options.timeoutSeconds = 20;
    auto echoed = runProcess(child({"echo"}), options);
    ASSERT_TRUE(echoed);
    EXPECT_TRUE(echoed->status.success());
    EXPECT_EQ(echoed->output.size(), input.size());
    EXPECT_TRUE(echoed->output == input);
    // Output beyond the cap is dropped, and the child is not blocked by it.
    options.maxOutputBytes = 1000;
    echoed = runProcess(child({"echo"}), options);
    ASSERT_TRUE(echoed);
    EXPECT_TRUE(echoed->status.success());
    EXPECT_EQ(echoed->output, input.substr(0, 1000));
}

// A hung child ends at the time limit; a cancelled run stops soon, with or without pipes, and
// one that ignores termination is killed after the grace period.
TEST(Subprocess, ATimedOutOrCancelledRunStopsSoon) {
    struct Case {
        const char* program;
        bool pipes;
        bool cancelled;
        int signal;
    };
    for (const Case& c :
         {Case{"sleep", true, false, SIGTERM}, Case{"sleep", true, true, SIGTERM},
          Case{"sleep", false, true, SIGTERM}, Case{"stubborn", false, true, SIGKILL}}) {
        SCOPED_TRACE(std::string(c.program) + (c.pipes ? " with pipes" : " without") +
                     (c.cancelled ? ", cancelled" : ", timed out"));
        std::atomic<bool> cancel{false};
        RunOptions options;
        options.timeoutSeconds = c.cancelled ? 30 : 0.3;
        options.killGraceSeconds = 0.3;
        options.captureOutput = c.pipes;
        options.cancel = &cancel;
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (c.cancelled) cancel.store(true);
        });
        const auto start = Clock::now();
        auto result = runProcess(child({c.program, "30"}), options);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        later.join();
        ASSERT_TRUE(result);
        EXPECT_EQ(result->cancelled, c.cancelled);
        EXPECT_EQ(result->timedOut, !c.cancelled);
        EXPECT_TRUE(result->status.signaled());
        EXPECT_EQ(result->status.code, c.signal);
        EXPECT_LT(elapsed, 2.0);
    }
}

TEST(Subprocess, WatchdogKillsAChildThatIgnoresTerminationAndReleasingOneReapsIt) {
    SpawnOptions spawn;
    spawn.argv = child({"stubborn", "30"});
    auto process = Subprocess::spawn(spawn);
    ASSERT_TRUE(process);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let it install its handler
    const auto start = Clock::now();
    TimerHandle watchdog = armWatchdog(process, 0.2, 0.5);
    const ExitStatus status = process->wait();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(status.signaled());
    EXPECT_EQ(status.code, SIGKILL);
    EXPECT_TRUE(process->stoppedByWatchdog());
    EXPECT_GE(elapsed, 0.65); // terminate at 0.2 s was ignored; kill came 0.5 s later
    EXPECT_LT(elapsed, 3.0);
    EXPECT_TRUE(isReaped(process->pid()));
    watchdog.cancel();

    // Releasing a running child kills and reaps it; the watchdog holds it weakly.
    spawn.argv = child({"sleep", "30"});
    process = Subprocess::spawn(spawn);
    ASSERT_TRUE(process);
    const pid_t pid = process->pid();
    watchdog = armWatchdog(process, 60);
    process.reset();
    EXPECT_TRUE(isReaped(pid));
    watchdog.cancel();
}

TEST(Subprocess, ChildGetsOnlyStandardDescriptorsAndDefaultSignals) {
    // The test process ignores SIGPIPE and holds descriptors of its own; neither may leak.
    int stray[2];
    ASSERT_EQ(pipe(stray), 0); // deliberately without close-on-exec
    auto fds = runProcess(child({"fds"}), {});
    auto sigpipe = runProcess(child({"sigpipe"}), {});
    close(stray[0]);
    close(stray[1]);
    ASSERT_TRUE(fds);
    EXPECT_EQ(fds->output, "");
    ASSERT_TRUE(sigpipe);
    EXPECT_EQ(sigpipe->output, "default");
}

TEST(Subprocess, EnvironmentEntriesReplaceOrAddToTheInheritedOnes) {
    setenv("VAK_TEST_INHERITED", "kept", 1);
    setenv("VAK_TEST_REPLACED", "old", 1);
    SpawnOptions spawn;
    spawn.argv = child({"env"});
    spawn.pipeStdout = true;
    spawn.environment = {"VAK_TEST_REPLACED=new", "VAK_TEST_ADDED=yes"};
    auto process = Subprocess::spawn(spawn);
    ASSERT_TRUE(process);
    const std::string out = process->readStdoutToEnd();
    process->wait();
    EXPECT_NE(out.find("VAK_TEST_INHERITED=kept\n"), std::string::npos);
    EXPECT_NE(out.find("VAK_TEST_REPLACED=new\n"), std::string::npos);
    EXPECT_EQ(out.find("VAK_TEST_REPLACED=old"), std::string::npos);
    EXPECT_NE(out.find("VAK_TEST_ADDED=yes\n"), std::string::npos);
}

TEST(Subprocess, ConcurrentWaitersAllSeeTheSameStatus) {
    SpawnOptions spawn;
    spawn.argv = child({"exit", "3"});
    auto process = Subprocess::spawn(spawn);
    ASSERT_TRUE(process);
    std::vector<std::thread> waiters;
    std::atomic<int> threes{0};
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (process->wait().code == 3) ++threes;
            process->terminate(); // harmless after the end
        });
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(threes.load(), 4);
    EXPECT_TRUE(process->hasExited());
}

TEST(Subprocess, StoppingRunningChildrenReachesAbandonedOnesOnly) {
    // A waiter on another thread owns the stubborn child, as a decode race's loser would.
    std::optional<ProcessResult> stubborn;
    std::thread owner([&] {
        RunOptions options;
        options.timeoutSeconds = 60;
        stubborn = runProcess(child({"stubborn", "30"}), options);
    });
    auto finished = runProcess(child({"exit", "0"}), {});
    ASSERT_TRUE(finished);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let it ignore SIGTERM first
    const auto start = Clock::now();
    EXPECT_EQ(stopRunningChildren(0.3), 1);
    owner.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_TRUE(stubborn);
    EXPECT_TRUE(stubborn->status.signaled());
    EXPECT_EQ(stubborn->status.code, SIGKILL);
    EXPECT_FALSE(stubborn->timedOut); // it was not the watchdog
    EXPECT_LT(elapsed, 2.0);
    EXPECT_EQ(stopRunningChildren(0.3), 0);
}

} // namespace
} // namespace vak
