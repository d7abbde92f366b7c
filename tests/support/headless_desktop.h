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
};

// A private desktop for tests, one 1280×720 output with XWayland, as the test user, every
// program it starts stopped at the end:
// - Sway: wlroots' headless back-end (software drawing), with a virtual keyboard on its seat (a
//   client may miss the first key of a tool that adds the only keyboard). While it runs, this
//   process's WAYLAND_DISPLAY, XDG_RUNTIME_DIR, SWAYSOCK and DISPLAY point at it.
// - Gnome: gnome-shell with mutter's headless back-end in its own session bus, beside a private
//   system bus that allows everything (the shell stops without a login manager's bus to ask). A
//   remote-desktop session of mutter's (vak-remote-keys) gives the seat its keyboard and leaves
//   the Overview the shell starts in.
// - Kwin: KWin's virtual back-end in its own session bus, run from a copy of kwin_wayland
//   without the file capability the package gives it (a container refuses to honour it). The
//   user has the daemon's desktop entry (Exec naming the built daemon), so KWin lets the daemon in
//   with its permission checks on; unlistedDaemon() is the same program under a path no entry
//   names.
enum class Compositor { Sway, Gnome, Kwin };

class HeadlessDesktop {
  public:
    explicit HeadlessDesktop(Compositor compositor);
    ~HeadlessDesktop();
    HeadlessDesktop(const HeadlessDesktop&) = delete;
    HeadlessDesktop& operator=(const HeadlessDesktop&) = delete;

    // False (with the reason in why()) when no session could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }

    // The session's variables ("NAME=value"): HOME, XDG_RUNTIME_DIR, SHELL, WAYLAND_DISPLAY,
    // DISPLAY, and SWAYSOCK or DBUS_SESSION_BUS_ADDRESS (and GNOME's XAUTHORITY).
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
    // A new folder owned by the session's user, removed with the session.
    std::string userFolder(const std::string& name) const;
    // Hands `path` and everything in it to the session's user.
    void giveToUser(const std::string& path) const;
    // KWin: the daemon under a path no desktop entry names.
    const std::string& unlistedDaemon() const { return unlisted_; }

    // Sway: its IPC, `exec` of a shell command, the app id (or X11 class) of the focused window
    // (empty when none), and the JSON of its tree.
    SwayIpc& ipc() { return *ipc_; }
    bool exec(const std::string& command);
    std::string focusedApp();
    std::string tree();

  private:
    std::string startSway(const std::string& sway);
    std::string startGnome(const std::string& shell);
    std::string startKwin(const std::string& kwin);
    // Waits for the compositor (`program`, a path or a name) and XWayland of this session; adds
    // WAYLAND_DISPLAY, DISPLAY and the compositor's session bus. A reason when they did not come.
    std::string findDisplayAndBus(const std::string& program);

    SessionUser user_;
    std::string state_;   // our folder: configuration, runtime folder, home, user folders
    std::string runtime_; // XDG_RUNTIME_DIR
    std::string unlisted_;
    std::vector<std::string> environment_;
    std::shared_ptr<Subprocess> compositor_;
    std::vector<std::shared_ptr<Subprocess>> started_; // stopped first
    std::shared_ptr<Subprocess> systemBus_;            // stopped last
    std::unique_ptr<SwayIpc> ipc_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
    bool running_ = false;
    std::string why_;
};

struct HeadlessSway : HeadlessDesktop {
    HeadlessSway() : HeadlessDesktop(Compositor::Sway) {}
};

} // namespace vak::test
