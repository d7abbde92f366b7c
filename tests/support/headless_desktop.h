#pragma once

#include "base/subprocess.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vak {
class SwayIpc;
}

namespace vak::test {

// The path of a system program ("/usr/bin/sway"), empty when it is not installed.
std::string systemProgram(const char* name);

// Ends every process whose environment holds `entry` ("XDG_RUNTIME_DIR=/tmp/…"): what a session
// started, however detached; SIGTERM first, then SIGKILL for what is left.
void stopProcessesWith(const std::string& entry);

// A private desktop for tests (one 1280×720 output, XWayland), as "vaktest" when the tests run
// as root (compositors refuse root; created the first time, without a login shell). Sway runs
// headless with a virtual keyboard on its seat, and points this process's WAYLAND_DISPLAY,
// XDG_RUNTIME_DIR, SWAYSOCK and DISPLAY at itself while it runs. gnome-shell runs headless in its
// own session bus, beside a private system bus that allows everything, with mutter's
// remote-desktop keyboard on its seat (vak-remote-keys). KWin runs virtual in its own session bus
// from a copy without the file capability a container refuses, with the daemon's desktop entry
// installed for the user, so its permission checks let the daemon in.
enum class Compositor { Sway, Gnome, Kwin };

class HeadlessDesktop {
  public:
    explicit HeadlessDesktop(Compositor compositor);
    ~HeadlessDesktop();
    HeadlessDesktop(const HeadlessDesktop&) = delete;
    HeadlessDesktop& operator=(const HeadlessDesktop&) = delete;

    // False (with the reason in why()) when no session could be started on this machine.
    bool running() const { return why_.empty(); }
    const std::string& why() const { return why_; }

    // The session's variables ("NAME=value").
    const std::vector<std::string>& environment() const { return environment_; }
    // The argument list that runs `command` as the session's user, with only the session's
    // variables and `extra` ("NAME=value") in its environment.
    std::vector<std::string> asUser(const std::vector<std::string>& command,
                                    const std::vector<std::string>& extra = {}) const;
    // The same without the session bus: a program that cannot reach the desktop's services.
    std::vector<std::string> asUserWithoutBus(const std::vector<std::string>& command,
                                              const std::vector<std::string>& extra = {}) const;
    // Runs `command` so, to its end (at most 10 s), with `input` on its standard input.
    std::optional<ProcessResult> run(const std::vector<std::string>& command,
                                     std::optional<std::string> input = std::nullopt) const;
    // Starts `command` in the session, in the background; stopped with the session.
    bool start(const std::vector<std::string>& command, const std::vector<std::string>& extra = {});
    // A folder owned by the session's user, removed with the session.
    std::string userFolder(const std::string& name) const;
    // Hands `path` and everything in it to the session's user.
    void giveToUser(const std::string& path) const;
    const std::string& unlistedDaemon() const { return unlisted_; } // KWin: named by no entry

    // Sway: its IPC, `exec` of a shell command, the focused window's app id (or X11 class).
    SwayIpc& ipc() { return *ipc_; }
    bool exec(const std::string& command);
    std::string focusedApp();

  private:
    std::string startSway(const std::string& sway);
    std::string startGnome(const std::string& shell);
    std::string startKwin(const std::string& kwin);
    // Waits for the compositor (`program`, a path or a name) and XWayland of this session; adds
    // WAYLAND_DISPLAY, DISPLAY and the compositor's session bus. A reason when they did not come.
    std::string findDisplayAndBus(const std::string& program);

    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool dropPrivileges_ = false;
    std::string state_; // configuration, runtime folder, home, user folders
    std::string runtime_;
    std::string unlisted_;
    std::vector<std::string> environment_;
    std::shared_ptr<Subprocess> compositor_;
    std::vector<std::shared_ptr<Subprocess>> started_; // stopped first
    std::shared_ptr<Subprocess> systemBus_;            // stopped last
    std::unique_ptr<SwayIpc> ipc_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
    std::string why_ = "not started";
};

struct HeadlessSway : HeadlessDesktop {
    HeadlessSway() : HeadlessDesktop(Compositor::Sway) {}
};

} // namespace vak::test
