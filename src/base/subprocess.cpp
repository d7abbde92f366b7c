#include "base/subprocess.h"

#include "base/files.h"
#include "base/global_queues.h"
#include "base/time_util.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vak {

namespace {

// A child that exits while we still write to its stdin must give us EPIPE, not end the process.
void ignoreSigpipeOnce() {
    static const bool done = [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            std::signal(SIGPIPE, SIG_IGN);
        }
        return true;
    }();
    (void)done;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

ExitStatus decodeStatus(int raw) {
    if (WIFSIGNALED(raw)) return ExitStatus{ExitStatus::Kind::Signaled, WTERMSIG(raw)};
    return ExitStatus{ExitStatus::Kind::Exited, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

void setError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

// Every child spawned, held weakly, so stopRunningChildren can reach the ones still alive.
struct ChildRegistry {
    std::mutex mutex;
    std::vector<std::weak_ptr<Subprocess>> children;

    void add(const std::shared_ptr<Subprocess>& child) {
        std::lock_guard lock(mutex);
        std::erase_if(children, [](const auto& weak) { return weak.expired(); });
        children.push_back(child);
    }
    std::vector<std::shared_ptr<Subprocess>> alive() {
        std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<Subprocess>> result;
        for (const auto& weak : children) {
            if (auto child = weak.lock()) result.push_back(std::move(child));
        }
        return result;
    }
};

ChildRegistry& childRegistry() {
    // Never destroyed: children may be spawned and released by threads running at exit.
    static auto* registry = new ChildRegistry();
    return *registry;
}

// The child's standard streams: the pipes' ends where asked for, /dev/null everywhere else.
class FileActions {
  public:
    FileActions(const SpawnOptions& options, int stdinRead, int stdoutWrite, int stderrWrite) {
        posix_spawn_file_actions_init(&actions_);
        if (options.pipeStdin) {
            posix_spawn_file_actions_adddup2(&actions_, stdinRead, STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        if (options.pipeStdout) {
            posix_spawn_file_actions_adddup2(&actions_, stdoutWrite, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        if (options.pipeStderr) {
            posix_spawn_file_actions_adddup2(&actions_, stderrWrite, STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // Descriptors opened elsewhere without close-on-exec must not leak into the child either.
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
#endif
    }
    ~FileActions() {
        posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    const posix_spawn_file_actions_t* get() const {
        return &actions_;
    }

  private:
    posix_spawn_file_actions_t actions_;
};

// The daemon ignores SIGPIPE and SIGUSR1/2 and may block signals; its children start with
// every signal at its default and none blocked.
class DefaultSignals {
  public:
    DefaultSignals() {
        posix_spawnattr_init(&attr_);
        sigset_t allSignals;
        sigset_t noSignals;
        sigfillset(&allSignals);
        sigemptyset(&noSignals);
        posix_spawnattr_setsigdefault(&attr_, &allSignals);
        posix_spawnattr_setsigmask(&attr_, &noSignals);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~DefaultSignals() { posix_spawnattr_destroy(&attr_); }
    DefaultSignals(const DefaultSignals&) = delete;
    DefaultSignals& operator=(const DefaultSignals&) = delete;
    const posix_spawnattr_t* get() const { return &attr_; }

  private:
    posix_spawnattr_t attr_;
};

// A null-terminated vector pointing into `strings`, as exec wants it.
std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const auto& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// The inherited environment with `overrides` in place of same-named entries.
std::vector<char*> environmentWith(const std::vector<std::string>& overrides) {
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view current(*entry);
        const auto name = current.substr(0, current.find('=') + 1);
        const bool replaced =
            std::any_of(overrides.begin(), overrides.end(), [&](const std::string& e) {
                return std::string_view(e).substr(0, name.size()) == name;
            });
        if (!replaced) envp.push_back(*entry);
    }
    for (const auto& entry : overrides)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    return envp;
}

} // namespace

std::shared_ptr<Subprocess> Subprocess::spawn(const SpawnOptions& options, std::string* error) {
    ignoreSigpipeOnce();
    if (options.argv.empty() || options.argv[0].empty()) {
        setError(error, "no program given");
        return nullptr;
    }

    int inPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if ((options.pipeStdin && !makePipe(inPipe)) || (options.pipeStdout && !makePipe(outPipe)) ||
        (options.pipeStderr && !makePipe(errPipe))) {
        setError(error, std::string("pipe: ") + std::strerror(errno));
        for (int* fd : {&inPipe[0], &inPipe[1], &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1]})
            closeFd(*fd);
        return nullptr;
    }

    pid_t pid = -1;
    int rc = 0;
    {
        const FileActions actions(options, inPipe[0], outPipe[1], errPipe[1]);
        const DefaultSignals attributes;
        const std::vector<char*> argv = pointersTo(options.argv);
        const std::vector<char*> envp = environmentWith(options.environment);
        rc = posix_spawn(&pid, argv[0], actions.get(), attributes.get(), argv.data(), envp.data());
    }
    closeFd(inPipe[0]);
    closeFd(outPipe[1]);
    closeFd(errPipe[1]);
    if (rc != 0) {
        setError(error, options.argv[0] + ": " + std::strerror(rc));
        closeFd(inPipe[1]);
        closeFd(outPipe[0]);
        closeFd(errPipe[0]);
        return nullptr;
    }

    std::shared_ptr<Subprocess> child(new Subprocess());
    child->pid_ = pid;
    child->stdinFd_ = inPipe[1];
    child->stdoutFd_ = outPipe[0];
    child->stderrFd_ = errPipe[0];
    childRegistry().add(child);
    return child;
}

Subprocess::~Subprocess() {
    closeFd(stdinFd_);
    closeFd(stdoutFd_);
    closeFd(stderrFd_);
    std::lock_guard lock(mutex_);
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        reapLocked();
    }
}

bool Subprocess::writeStdin(std::string_view bytes) {
    if (stdinFd_ < 0) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(stdinFd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd pfd{stdinFd_, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void Subprocess::closeStdin() {
    closeFd(stdinFd_);
}

std::string Subprocess::readStdoutToEnd() {
    std::string out;
    if (stdoutFd_ < 0) return out;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{stdoutFd_, POLLIN, 0};
            ::poll(&pfd, 1, 100);
        } else {
            break;
        }
    }
    return out;
}

void Subprocess::reapLocked() {
    int raw = 0;
    pid_t got = -1;
    do {
        got = ::waitpid(pid_, &raw, 0);
    } while (got < 0 && errno == EINTR);
    status_ = got == pid_ ? decodeStatus(raw) : ExitStatus{ExitStatus::Kind::Exited, -1};
    reaped_ = true;
}

ExitStatus Subprocess::wait() {
    // Wait without reaping, then reap under the lock, so a concurrent signal never targets a
    // process id the system has already handed to someone else.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    if (!reaped_) reapLocked();
    return status_;
}

bool Subprocess::hasExited() {
    {
        std::lock_guard lock(mutex_);
        if (reaped_) return true;
    }
    siginfo_t info{};
    info.si_pid = 0;
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
        return errno == ECHILD;
    }
    return info.si_pid != 0;
}

std::optional<ExitStatus> Subprocess::tryWait() {
    if (!hasExited()) return std::nullopt;
    return wait();
}

void Subprocess::signal(int signo) {
    std::lock_guard lock(mutex_);
    if (!reaped_ && pid_ > 0) ::kill(pid_, signo);
}

void Subprocess::terminate() {
    signal(SIGTERM);
}
void Subprocess::kill() {
    signal(SIGKILL);
}

TimerHandle armWatchdog(std::weak_ptr<Subprocess> child, double terminateAfterSeconds,
                        double killGraceSeconds) {
    return armWatchdog(std::move(child), terminateAfterSeconds, killGraceSeconds,
                       globalQueue(QoS::Default));
}

TimerHandle armWatchdog(std::weak_ptr<Subprocess> child, double terminateAfterSeconds,
                        double killGraceSeconds, Executor& queue) {
    return queue.after(terminateAfterSeconds, [child, killGraceSeconds, &queue] {
        auto running = child.lock();
        if (!running || running->hasExited()) return;
        running->markStoppedByWatchdog();
        running->terminate();
        queue.after(killGraceSeconds, [child] {
            auto stubborn = child.lock();
            if (stubborn && !stubborn->hasExited()) stubborn->kill();
        });
    });
}

int stopRunningChildren(double killGraceSeconds) {
    std::vector<std::shared_ptr<Subprocess>> running;
    for (auto& child : childRegistry().alive()) {
        if (!child->hasExited()) running.push_back(std::move(child));
    }
    for (const auto& child : running)
        child->terminate();
    const auto deadline = deadlineAfter(killGraceSeconds);
    for (const auto& child : running) {
        while (!child->hasExited() && SteadyClock::now() < deadline)
            ::usleep(5000);
        if (!child->hasExited()) child->kill();
    }
    return static_cast<int>(running.size());
}

namespace {

void setNonBlocking(int fd) {
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// One stream runProcess reads: standard output up to its limit, or standard error's last bytes.
struct StreamReader {
    int fd;
    bool open;
    std::string* sink;
    std::size_t limit;
    bool keepTail;
};

// Reads what is there; false at end of file or on an error.
bool readAvailable(StreamReader& reader) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(reader.fd, buffer, sizeof buffer);
        if (n > 0) {
            const auto size = static_cast<std::size_t>(n);
            if (reader.keepTail) {
                reader.sink->append(buffer, size);
                if (reader.sink->size() > 2 * reader.limit)
                    reader.sink->erase(0, reader.sink->size() - reader.limit);
            } else {
                const auto room = reader.limit - reader.sink->size();
                reader.sink->append(buffer, std::min(size, room));
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

// Stops the child once RunOptions::cancel is set: SIGTERM at once, SIGKILL after the grace.
class CancelWatch {
  public:
    CancelWatch(const RunOptions& options, Subprocess& child, ProcessResult& result)
        : options_(options), child_(child), result_(result) {}
    bool watching() const { return options_.cancel != nullptr; }
    void check() {
        if (options_.cancel == nullptr || !options_.cancel->load()) return;
        if (!result_.cancelled) {
            seen_ = SteadyClock::now();
            result_.cancelled = true;
            child_.terminate();
        } else if (secondsSince(seen_) > options_.killGraceSeconds) {
            child_.kill();
        }
    }

  private:
    const RunOptions& options_;
    Subprocess& child_;
    ProcessResult& result_;
    // When the cancel was first seen (result_.cancelled says whether it was). Not an optional:
    // GCC 12 at -O2 takes an optional time point for uninitialised (GCC bug 80635).
    SteadyClock::time_point seen_{};
};

// The child's standard streams while it runs: `input` fed to its standard input, which is
// closed once all of it is taken (or at once when there is none), its output and error read.
class StreamPump {
  public:
    StreamPump(Subprocess& child, const RunOptions& options, ProcessResult& result)
        : child_(child), pending_(options.input ? std::string_view(*options.input) : ""),
          inFd_(child.stdinFd()), readers_{
                                      {child.stdoutFd(), child.stdoutFd() >= 0, &result.output,
                                       options.maxOutputBytes, false},
                                      {child.stderrFd(), child.stderrFd() >= 0, &result.errorTail,
                                       options.errorTailBytes, true},
                                  } {
        for (int fd : {inFd_, child.stdoutFd(), child.stderrFd()})
            setNonBlocking(fd);
        if (inFd_ >= 0 && pending_.empty()) closeInput();
    }

    // Until the child has closed its streams (or has ended and left them to a grandchild).
    void run(CancelWatch& cancel) {
        while (inFd_ >= 0 || readers_[0].open || readers_[1].open) {
            cancel.check();
            const int ready = waitForStreams();
            if (ready < 0 && errno != EINTR) break;
            if (ready <= 0) {
                if (childGoneQuiet(ready)) break;
                continue;
            }
            if (inputSlot_ >= 0 && fds_[inputSlot_].revents != 0) feedInput();
            for (int r = 0; r < 2; ++r) {
                if (readerSlot_[r] >= 0 && fds_[readerSlot_[r]].revents != 0)
                    readers_[r].open = readAvailable(readers_[r]);
            }
        }
        child_.closeStdin();
    }

  private:
    // Polls the open streams for a tenth of a second; poll's answer.
    int waitForStreams() {
        nfds_t count = 0;
        inputSlot_ = -1;
        if (inFd_ >= 0) {
            fds_[count] = pollfd{inFd_, POLLOUT, 0};
            inputSlot_ = static_cast<int>(count++);
        }
        for (int r = 0; r < 2; ++r) {
            readerSlot_[r] = -1;
            if (!readers_[r].open) continue;
            fds_[count] = pollfd{readers_[r].fd, POLLIN, 0};
            readerSlot_[r] = static_cast<int>(count++);
        }
        return ::poll(fds_, count, 100);
    }

    // A grandchild may hold the pipes open after the child is gone: once the child has ended,
    // stop at the first quiet moment or after a second at most.
    bool childGoneQuiet(int ready) {
        if (!child_.hasExited()) return false;
        if (!exitSeen_) exitSeen_ = SteadyClock::now();
        for (auto& reader : readers_) {
            if (reader.open) readAvailable(reader);
        }
        return ready == 0 || secondsSince(*exitSeen_) > 1.0;
    }

    void feedInput() {
        const ssize_t n = ::write(inFd_, pending_.data(), pending_.size());
        if (n > 0) pending_.remove_prefix(static_cast<std::size_t>(n));
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || pending_.empty()) closeInput();
    }

    void closeInput() {
        child_.closeStdin();
        inFd_ = -1;
    }

    Subprocess& child_;
    std::string_view pending_;
    int inFd_;
    StreamReader readers_[2];
    pollfd fds_[3] = {};
    int inputSlot_ = -1;
    int readerSlot_[2] = {-1, -1};
    std::optional<SteadyClock::time_point> exitSeen_;
};

SpawnOptions spawnOptionsFor(const std::vector<std::string>& argv, const RunOptions& options) {
    SpawnOptions spawnOptions;
    spawnOptions.argv = argv;
    spawnOptions.pipeStdin = options.input.has_value();
    spawnOptions.pipeStdout = options.captureOutput;
    spawnOptions.pipeStderr = options.errorTailBytes > 0;
    spawnOptions.environment = options.environment;
    return spawnOptions;
}

} // namespace

std::optional<ProcessResult> runProcess(const std::vector<std::string>& argv,
                                        const RunOptions& options, std::string* error) {
    auto child = Subprocess::spawn(spawnOptionsFor(argv, options), error);
    if (!child) return std::nullopt;
    TimerHandle watchdog = armWatchdog(child, options.timeoutSeconds, options.killGraceSeconds);

    ProcessResult result;
    CancelWatch cancel(options, *child, result);
    StreamPump(*child, options, result).run(cancel);
    if (result.errorTail.size() > options.errorTailBytes)
        result.errorTail.erase(0, result.errorTail.size() - options.errorTailBytes);

    // Without pipes to watch, the wait itself looks at the flag.
    while (cancel.watching() && !child->hasExited()) {
        cancel.check();
        ::usleep(20000);
    }
    result.status = child->wait();
    result.timedOut = child->stoppedByWatchdog();
    watchdog.cancel();
    return result;
}

} // namespace vak
