#include "base/subprocess.h"

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

// Moves a descriptor above the standard three so dup2 onto 0/1 really clears close-on-exec.
bool liftAboveStandard(int& fd) {
    if (fd > 2) return true;
    const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (lifted < 0) return false;
    ::close(fd);
    fd = lifted;
    return true;
}

bool makePipe(int fds[2]) {
#ifdef VAK_HAVE_PIPE2
    // Close-on-exec from the start: a child forked by another thread meanwhile gets no copy.
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
#else
    if (pipe(fds) != 0) return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    if (!liftAboveStandard(fds[0]) || !liftAboveStandard(fds[1])) {
        closeFd(fds[0]);
        closeFd(fds[1]);
        return false;
    }
    return true;
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

std::optional<ProcessResult> runProcess(const std::vector<std::string>& argv,
                                        const RunOptions& options, std::string* error) {
    SpawnOptions spawnOptions;
    spawnOptions.argv = argv;
    spawnOptions.pipeStdin = options.input.has_value();
    spawnOptions.pipeStdout = options.captureOutput;
    spawnOptions.pipeStderr = options.errorTailBytes > 0;
    spawnOptions.environment = options.environment;
    auto child = Subprocess::spawn(spawnOptions, error);
    if (!child) return std::nullopt;
    TimerHandle watchdog = armWatchdog(child, options.timeoutSeconds, options.killGraceSeconds);

    ProcessResult result;
    std::string_view pending = options.input ? std::string_view(*options.input) : "";
    int inFd = child->stdinFd();
    for (int fd : {inFd, child->stdoutFd(), child->stderrFd()}) {
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    if (inFd >= 0 && pending.empty()) {
        child->closeStdin();
        inFd = -1;
    }

    // The two streams read: standard output up to its limit, standard error's last bytes.
    struct Reader {
        int fd;
        bool open;
        std::string* sink;
        std::size_t limit;
        bool keepTail;
    };
    Reader readers[2] = {
        {child->stdoutFd(), child->stdoutFd() >= 0, &result.output, options.maxOutputBytes, false},
        {child->stderrFd(), child->stderrFd() >= 0, &result.errorTail, options.errorTailBytes,
         true},
    };
    char buffer[65536];
    // Reads what is there; false at end of file or on an error.
    auto readSome = [&buffer](Reader& reader) {
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
    };
    const auto anyOpen = [&readers] { return readers[0].open || readers[1].open; };
    // Once cancelled: SIGTERM at once, SIGKILL after the grace.
    std::optional<SteadyClock::time_point> cancelSeen;
    const auto checkCancel = [&] {
        if (options.cancel == nullptr || !options.cancel->load()) return;
        if (!cancelSeen) {
            cancelSeen = SteadyClock::now();
            result.cancelled = true;
            child->terminate();
        } else if (secondsSince(*cancelSeen) > options.killGraceSeconds) {
            child->kill();
        }
    };
    std::optional<SteadyClock::time_point> exitSeen;
    while (inFd >= 0 || anyOpen()) {
        checkCancel();
        pollfd fds[3];
        nfds_t count = 0;
        int index[3] = {-1, -1, -1}; // stdin, stdout, stderr
        if (inFd >= 0) {
            fds[count] = pollfd{inFd, POLLOUT, 0};
            index[0] = static_cast<int>(count++);
        }
        for (int r = 0; r < 2; ++r) {
            if (!readers[r].open) continue;
            fds[count] = pollfd{readers[r].fd, POLLIN, 0};
            index[r + 1] = static_cast<int>(count++);
        }
        const int ready = ::poll(fds, count, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            // A grandchild may hold the pipes open after the child is gone: once the child has
            // ended, stop at the first quiet moment or after a second at most.
            if (child->hasExited()) {
                if (!exitSeen) exitSeen = SteadyClock::now();
                for (auto& reader : readers) {
                    if (reader.open) readSome(reader);
                }
                if (ready == 0 || secondsSince(*exitSeen) > 1.0) break;
            }
            continue;
        }
        if (index[0] >= 0 && fds[index[0]].revents != 0) {
            const ssize_t n = ::write(inFd, pending.data(), pending.size());
            if (n > 0) pending.remove_prefix(static_cast<std::size_t>(n));
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || pending.empty()) {
                child->closeStdin();
                inFd = -1;
            }
        }
        for (int r = 0; r < 2; ++r) {
            if (index[r + 1] >= 0 && fds[index[r + 1]].revents != 0)
                readers[r].open = readSome(readers[r]);
        }
    }
    child->closeStdin();
    if (result.errorTail.size() > options.errorTailBytes)
        result.errorTail.erase(0, result.errorTail.size() - options.errorTailBytes);

    // Without pipes to watch, the wait itself looks at the flag.
    while (options.cancel != nullptr && !child->hasExited()) {
        checkCancel();
        ::usleep(20000);
    }
    result.status = child->wait();
    result.timedOut = child->stoppedByWatchdog();
    watchdog.cancel();
    return result;
}

} // namespace vak
