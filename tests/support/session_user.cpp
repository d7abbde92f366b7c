#include "support/session_user.h"

#include "base/files.h"
#include "base/subprocess.h"
#include "support/wait.h"

#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

namespace {

constexpr const char* kTestUser = "vaktest";

// A file of /proc/PID/; empty when the process is gone, even halfway through the read (where a
// stream would throw).
std::string readProcFile(pid_t pid, const char* name) {
    const UniqueFd fd(
        ::open(("/proc/" + std::to_string(pid) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return {};
    return readAll(fd.get()).value_or("");
}

} // namespace

std::string systemProgram(const char* name) {
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"}) {
        const std::string path = std::string(dir) + name;
        if (isExecutableFile(path)) return path;
    }
    return {};
}

std::optional<SessionUser> SessionUser::forTests(std::string* why) {
    if (::geteuid() != 0) return SessionUser{::getuid(), ::getgid(), false};
    const auto found = [] {
        const passwd* user = ::getpwnam(kTestUser);
        return user != nullptr ? std::optional(SessionUser{user->pw_uid, user->pw_gid, true})
                               : std::nullopt;
    };
    if (auto user = found()) return user;
    const std::string useradd = systemProgram("useradd");
    RunOptions options;
    options.timeoutSeconds = 30;
    const auto result = useradd.empty() ? std::nullopt
                                        : runProcess({useradd, "--user-group", "--no-create-home",
                                                      "--shell", "/usr/sbin/nologin", kTestUser},
                                                     options);
    if (auto user = found()) return user;
    *why = "cannot create the test user " + std::string(kTestUser) +
           (result ? "" : " (useradd did not run)");
    return std::nullopt;
}

std::vector<std::string> SessionUser::run(const std::vector<std::string>& command,
                                          const std::vector<std::string>& environment,
                                          const std::vector<std::string>& extra) const {
    std::vector<std::string> argv;
    if (dropPrivileges) {
        argv = {systemProgram("setpriv"), "--reuid=" + std::to_string(uid),
                "--regid=" + std::to_string(gid), "--init-groups"};
    }
    const passwd* user = ::getpwuid(uid);
    argv.insert(argv.end(),
                {systemProgram("env"), "-i", "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                 std::string("USER=") + (user != nullptr ? user->pw_name : kTestUser)});
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

bool makeOwnedFolder(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && ::chmod(path.c_str(), mode) == 0 && ::chown(path.c_str(), uid, gid) == 0;
}

void stopProcessesWith(const std::string& entry) {
    for (int round = 0; round < 2; ++round) {
        bool found = false;
        for (const auto& process : std::filesystem::directory_iterator("/proc")) {
            const std::string name = process.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            const pid_t pid = static_cast<pid_t>(std::stol(name));
            if (readProcFile(pid, "environ").find(entry + '\0') == std::string::npos) continue;
            found = true;
            ::kill(pid, round == 0 ? SIGTERM : SIGKILL);
        }
        if (!found) return;
        settle(0.5);
    }
}

std::string processEnvironmentValue(pid_t pid, const std::string& name) {
    const std::string environ = readProcFile(pid, "environ");
    const std::string prefix = name + "=";
    for (std::size_t at = 0; at < environ.size();) {
        const std::size_t end = environ.find('\0', at);
        const std::string entry = environ.substr(at, end - at);
        if (entry.rfind(prefix, 0) == 0) return entry.substr(prefix.size());
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

std::string commandLineOf(pid_t pid) {
    return readProcFile(pid, "cmdline");
}

std::optional<pid_t> findSessionProcess(const std::string& runtimeEntry,
                                        const std::string& program) {
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = process.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        const std::string command = commandLineOf(pid);
        const std::string first = command.substr(0, command.find('\0'));
        if (first != program && std::filesystem::path(first).filename() != program) continue;
        if (processEnvironmentValue(pid, "XDG_RUNTIME_DIR") ==
            runtimeEntry.substr(runtimeEntry.find('=') + 1))
            return pid;
    }
    return std::nullopt;
}

std::vector<std::string> SessionUser::runWithoutBus(const std::vector<std::string>& command,
                                                    const std::vector<std::string>& environment,
                                                    const std::vector<std::string>& extra) const {
    std::vector<std::string> kept;
    for (const std::string& entry : environment) {
        if (entry.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0) kept.push_back(entry);
    }
    return run(command, kept, extra);
}

void SessionUser::own(const std::string& path) const {
    ::lchown(path.c_str(), uid, gid);
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error))
        ::lchown(entry.path().c_str(), uid, gid);
}

} // namespace vak::test
