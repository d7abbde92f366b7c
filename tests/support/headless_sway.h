#pragma once

#include "base/subprocess.h"
#include "support/session_user.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vak {
class SwayIpc;
}

namespace vak::test {

// A private Wayland desktop for tests: sway with wlroots' headless back-end (software drawing,
// no input devices), XWayland, one 1280×720 output and a virtual keyboard on its seat (as a
// real desktop always has one: without it, a client may miss the first key of a tool that adds
// the only keyboard). sway refuses to run as root, so when the tests run as root the session
// runs as the unprivileged user "vaktest", created the first time; otherwise as the user
// running the tests. While it runs, this process's WAYLAND_DISPLAY, XDG_RUNTIME_DIR, SWAYSOCK and
// DISPLAY (XWayland's, open to root too) point at it. Everything started in the session is
// stopped at the end.
class HeadlessSway {
  public:
    HeadlessSway();
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;

    // False (with the reason in why()) when no session could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }

    // The session's variables ("NAME=value"): HOME, XDG_RUNTIME_DIR, SHELL, WAYLAND_DISPLAY,
    // SWAYSOCK, DISPLAY.
    const std::vector<std::string>& environment() const { return environment_; }
    // The argument list that runs `command` as the session's user, with only the session's
    // variables and `extra` ("NAME=value") in its environment.
    std::vector<std::string> asUser(const std::vector<std::string>& command,
                                    const std::vector<std::string>& extra = {}) const;
    // Runs `command` so, to its end (at most 10 s), with `input` on its standard input.
    std::optional<ProcessResult> run(const std::vector<std::string>& command,
                                     std::optional<std::string> input = std::nullopt) const;
    // A new folder owned by the session's user, removed with the session.
    std::string userFolder(const std::string& name) const;
    // Hands `path` and everything in it to the session's user.
    void giveToUser(const std::string& path) const;

    SwayIpc& ipc() { return *ipc_; }
    // Starts a shell command in the session, as sway's `exec` does.
    bool exec(const std::string& command);
    // The app id (or X11 class) of the focused window, empty when none.
    std::string focusedApp();
    // The JSON of sway's tree.
    std::string tree();

  private:
    void stopSessionProcesses();

    std::string state_;   // our folder: config, runtime folder, user folders
    std::string runtime_; // XDG_RUNTIME_DIR
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool dropPrivileges_ = false;
    SessionUser user_;
    std::vector<std::string> environment_;
    std::shared_ptr<Subprocess> sway_;
    std::shared_ptr<Subprocess> keyboard_;
    std::unique_ptr<SwayIpc> ipc_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
    bool running_ = false;
    std::string why_;
};

} // namespace vak::test
