#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vak::test {

// The path of a system program ("/usr/bin/sway"), empty when it is not installed.
std::string systemProgram(const char* name);

// Who runs a private desktop session. Compositors refuse to run as root, so when the tests run
// as root it is the unprivileged user "vaktest", created the first time (with no login shell,
// so a session sets SHELL for its terminals); otherwise the user running the tests.
struct SessionUser {
    uid_t uid = 0;
    gid_t gid = 0;
    bool dropPrivileges = false;

    // Nothing, with `why`, when the test user cannot be made.
    static std::optional<SessionUser> forTests(std::string* why);

    // The argument list that runs `command` as this user with only PATH, LANG, USER,
    // `environment` and `extra` ("NAME=value") in its environment.
    std::vector<std::string> run(const std::vector<std::string>& command,
                                 const std::vector<std::string>& environment,
                                 const std::vector<std::string>& extra = {}) const;
    // The same without the session bus's address: a program that finds no bus.
    std::vector<std::string> runWithoutBus(const std::vector<std::string>& command,
                                           const std::vector<std::string>& environment,
                                           const std::vector<std::string>& extra = {}) const;
    // Makes `path` and everything under it this user's.
    void own(const std::string& path) const;
};

// Creates `path` (and its parents) owned by uid:gid with `mode`.
bool makeOwnedFolder(const std::string& path, uid_t uid, gid_t gid, mode_t mode);

// Ends every process whose environment holds `entry` ("XDG_RUNTIME_DIR=/tmp/…"): what a session
// started, however detached; SIGTERM first, then SIGKILL for what is left.
void stopProcessesWith(const std::string& entry);

// A process's environment variable, empty when it has none or cannot be read.
std::string processEnvironmentValue(pid_t pid, const std::string& name);

// A process's command line, its arguments separated by NULs.
std::string commandLineOf(pid_t pid);
// The process of the session whose runtime folder `runtimeEntry` names ("XDG_RUNTIME_DIR=…")
// and whose command line starts with `program` (a path or a name).
std::optional<pid_t> findSessionProcess(const std::string& runtimeEntry,
                                        const std::string& program);

} // namespace vak::test
