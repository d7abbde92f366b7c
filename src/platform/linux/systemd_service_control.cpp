#include "platform/linux/systemd_service_control.h"

#include "base/files.h"
#include "base/log.h"
#include "base/subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif
#include <sys/syscall.h>

namespace vak {

namespace {

// systemctl only queues the job (--no-block); it answers at once unless systemd is wedged.
constexpr double kSystemctlTimeoutSeconds = 10;

// Marks every descriptor above standard error close-on-exec, so the new program starts with
// none of ours (X and sound-server connections, pipes) and a failed exec loses nothing.
void closeDescriptorsOnExec() {
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
    if (::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 ? limit : 1024); ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

} // namespace

bool cgroupInUnit(std::string_view cgroupText, std::string_view unit) {
    // Lines look like "0::/user.slice/user-1000.slice/user@1000.service/app.slice/UNIT".
    std::size_t start = 0;
    while (start < cgroupText.size()) {
        auto end = cgroupText.find('\n', start);
        if (end == std::string_view::npos) end = cgroupText.size();
        const std::string_view line = cgroupText.substr(start, end - start);
        const auto path = line.rfind(':');
        if (path != std::string_view::npos) {
            const std::string_view cgroup = line.substr(path + 1);
            const auto slash = cgroup.rfind('/');
            const std::string_view last =
                slash == std::string_view::npos ? cgroup : cgroup.substr(slash + 1);
            if (last == unit) return true;
        }
        start = end + 1;
    }
    return false;
}

SystemdServiceControl::SystemdServiceControl(std::vector<std::string> args,
                                             std::optional<std::string> selfCgroup,
                                             std::string systemctl)
    : args_(std::move(args)), systemctl_(std::move(systemctl)) {
    if (!selfCgroup) selfCgroup = readTextFile("/proc/self/cgroup");
    underSystemd_ = selfCgroup && cgroupInUnit(*selfCgroup, SERVICE_UNIT);
}

bool SystemdServiceControl::runSystemctl(std::string_view verb) {
    RunOptions options;
    options.timeoutSeconds = kSystemctlTimeoutSeconds;
    options.captureOutput = false;
    std::string error;
    const auto result = runProcess(
        {systemctl_, "--user", "--no-block", std::string(verb), std::string(SERVICE_UNIT)}, options,
        &error);
    if (!result || !result->status.success()) {
        log(LogLevel::warning,
            "systemctl " + std::string(verb) + " " + std::string(SERVICE_UNIT) + " failed" +
                (result ? (result->timedOut ? " (timed out)" : "") : ": " + error));
        return false;
    }
    return true;
}

bool SystemdServiceControl::stopService() {
    // Not a service: nothing would start the program again anyway.
    if (!underSystemd_) return true;
    return runSystemctl("stop");
}

bool SystemdServiceControl::restartService() {
    if (underSystemd_) return runSystemctl("restart");
    reexecSelf(args_);
    return false;
}

void reexecSelf(const std::vector<std::string>& args) {
    if (args.empty()) return;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The new program image would inherit our children unwatched (the resident whisper-servers
    // among them) and never stop them: they end here, as they would at a real exit.
    if (const int stopped = stopRunningChildren(2.0); stopped > 0)
        log(LogLevel::info, "restart: stopped " + std::to_string(stopped) + " child process" +
                                (stopped == 1 ? "" : "es") + " first");
    closeDescriptorsOnExec();
    // A fresh start has nothing blocked (the test signals may be blocked here). A signal still
    // pending would strike the moment it is unblocked: discard it first by ignoring it for an
    // instant.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    for (int signo = 1; signo < NSIG; ++signo) {
        if (sigismember(&pending, signo) != 1) continue;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction before {};
        if (::sigaction(signo, &ignore, &before) == 0) ::sigaction(signo, &before, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigset_t previous;
    ::pthread_sigmask(SIG_SETMASK, &none, &previous);
    ::execv("/proc/self/exe", argv.data());
    const int failure = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    log(LogLevel::warning, "restart failed: " + std::string(std::strerror(failure)));
}

} // namespace vak
