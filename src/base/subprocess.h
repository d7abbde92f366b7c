#pragma once

#include "base/executor.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace vak {

struct ExitStatus {
    enum class Kind { Exited, Signaled };
    Kind kind = Kind::Exited;
    int code = 0; // exit code, or the signal number when signalled

    bool exited() const { return kind == Kind::Exited; }
    bool signaled() const { return kind == Kind::Signaled; }
    bool success() const { return exited() && code == 0; }
};

struct SpawnOptions {
    // argv[0] is the program's path; there is no search of PATH and no shell.
    std::vector<std::string> argv;
    bool pipeStdin = false;  // otherwise /dev/null
    bool pipeStdout = false; // otherwise /dev/null
    bool pipeStderr = false; // otherwise /dev/null
    // "NAME=value" entries that replace or add to the inherited environment.
    std::vector<std::string> environment;
};

// A child process started with posix_spawn. The child gets default signal dispositions, an
// empty signal mask and no descriptors but its three standard ones.
//
// Thread safety: wait, tryWait, terminate and kill may be called from any thread; the process
// is reaped exactly once, and no signal can reach a recycled process id. Pipe I/O belongs to one
// thread at a time.
class Subprocess {
  public:
    // Returns nothing when the program cannot be started; `error` then says why.
    static std::shared_ptr<Subprocess> spawn(const SpawnOptions& options,
                                             std::string* error = nullptr);
    ~Subprocess(); // kills and reaps a child still running, closes the pipes
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return pid_; }

    // Writes all of `bytes` to the child's standard input; false when the pipe is closed.
    bool writeStdin(std::string_view bytes);
    void closeStdin();
    // Reads standard output until the child closes it.
    std::string readStdoutToEnd();
    int stdinFd() const { return stdinFd_; }
    int stdoutFd() const { return stdoutFd_; }
    int stderrFd() const { return stderrFd_; }

    ExitStatus wait();
    std::optional<ExitStatus> tryWait();
    bool hasExited(); // true once the child has ended, reaped or not

    // Polite stop (SIGTERM) and forced stop (SIGKILL); both do nothing once the child is reaped.
    void terminate();
    void kill();

    // Set by the watchdog when it had to stop the child.
    bool stoppedByWatchdog() const { return stoppedByWatchdog_.load(); }
    void markStoppedByWatchdog() { stoppedByWatchdog_.store(true); }

  private:
    Subprocess() = default;
    void signal(int signo);
    void reapLocked();

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    std::mutex mutex_;
    bool reaped_ = false;
    ExitStatus status_;
    std::atomic<bool> stoppedByWatchdog_{false};
};

// Two-stage watchdog: `terminateAfterSeconds` after arming, a child still running gets SIGTERM;
// `killGraceSeconds` later, one still running gets SIGKILL. It holds the child weakly, so a
// finished and released child costs nothing. Cancel the handle once the child is done.
TimerHandle armWatchdog(std::weak_ptr<Subprocess> child, double terminateAfterSeconds,
                        double killGraceSeconds = 2.0);
TimerHandle armWatchdog(std::weak_ptr<Subprocess> child, double terminateAfterSeconds,
                        double killGraceSeconds, Executor& queue);

struct ProcessResult {
    ExitStatus status;
    std::string output;     // standard output, when captured
    std::string errorTail;  // the end of standard error, when kept
    bool timedOut = false;  // the watchdog had to stop the child
    bool cancelled = false; // stopped because RunOptions::cancel was set
};

struct RunOptions {
    double timeoutSeconds = 30;
    double killGraceSeconds = 2;
    std::optional<std::string> input; // written to standard input, which is then closed
    bool captureOutput = true;
    // Largest output kept; the rest is read and dropped so the child never blocks on a full pipe.
    std::size_t maxOutputBytes = 64u << 20;
    // Bytes of standard error kept (the last ones, where a tool says why it failed); 0 sends it
    // to /dev/null.
    std::size_t errorTailBytes = 0;
    // Set from another thread to stop the child early (politely, then by force after the
    // grace), as when the person waiting for it has gone. Looked at every tenth of a second.
    const std::atomic<bool>* cancel = nullptr;
    // "NAME=value" entries that replace or add to the inherited environment.
    std::vector<std::string> environment;
};

// Stops every child this process started that is still running: SIGTERM, then SIGKILL for those
// still there after `killGraceSeconds`. For a command-line run about to exit while abandoned work
// (the losing engine of a decode race) still runs: its watchdog would end with the process, and
// the child would live on unwatched. Returns how many children it had to stop.
int stopRunningChildren(double killGraceSeconds);

// Runs a program to completion under a watchdog. Nothing when it cannot be started.
std::optional<ProcessResult> runProcess(const std::vector<std::string>& argv,
                                        const RunOptions& options, std::string* error = nullptr);

} // namespace vak
