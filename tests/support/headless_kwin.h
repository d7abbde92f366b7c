#pragma once

#include "base/subprocess.h"
#include "support/session_user.h"

#include <memory>
#include <string>
#include <vector>

namespace vak::test {

// A private KDE Plasma compositor for tests: KWin's virtual back-end, one 1280×720 output and
// XWayland, in its own session bus (dbus-run-session), as the test user (session_user.h). It
// runs a copy of kwin_wayland without the file capability the package gives it, which a
// container refuses to honour. The user has the daemon's desktop entry (the package's, with
// Exec naming the built daemon), so KWin lets the daemon in with its permission checks on, as
// on a user's desktop; a link to the daemon under another path is the same program unlisted.
// Everything started in the session is stopped at the end.
class HeadlessKwin {
  public:
    HeadlessKwin();
    ~HeadlessKwin();
    HeadlessKwin(const HeadlessKwin&) = delete;
    HeadlessKwin& operator=(const HeadlessKwin&) = delete;

    // False (with the reason in why()) when no session could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }

    // The argument list that runs `command` as the session's user, with the session's variables
    // (HOME, XDG_RUNTIME_DIR, SHELL, WAYLAND_DISPLAY, DISPLAY, DBUS_SESSION_BUS_ADDRESS) and
    // `extra` ("NAME=value").
    std::vector<std::string> asUser(const std::vector<std::string>& command,
                                    const std::vector<std::string>& extra = {}) const;
    // The same without the session bus.
    std::vector<std::string> asUserWithoutBus(const std::vector<std::string>& command,
                                              const std::vector<std::string>& extra = {}) const;
    // The daemon under a path no desktop entry names.
    const std::string& unlistedDaemon() const { return unlisted_; }
    // A new folder owned by the session's user.
    std::string userFolder(const std::string& name) const;
    // Hands `path` and everything in it to the session's user.
    void giveToUser(const std::string& path) const;

  private:
    SessionUser user_;
    std::string state_;
    std::string runtime_;
    std::string unlisted_;
    std::vector<std::string> environment_;
    std::shared_ptr<Subprocess> kwin_;
    bool running_ = false;
    std::string why_;
};

} // namespace vak::test
