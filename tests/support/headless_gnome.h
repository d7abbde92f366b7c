#pragma once

#include "base/subprocess.h"
#include "support/session_user.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vak::test {

// A private GNOME desktop for tests: gnome-shell with mutter's headless back-end, one virtual
// 1280×720 monitor and XWayland, in its own session bus (dbus-run-session) beside a private
// system bus that allows everything (the shell stops without a login manager's bus to ask), as
// the test user (session_user.h). A remote-desktop session of mutter's (vak-remote-keys) gives
// the seat its keyboard and leaves the Overview the shell starts in. Everything started in the
// session is stopped at the end.
class HeadlessGnome {
  public:
    HeadlessGnome();
    ~HeadlessGnome();
    HeadlessGnome(const HeadlessGnome&) = delete;
    HeadlessGnome& operator=(const HeadlessGnome&) = delete;

    // False (with the reason in why()) when no session could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }

    // The session's variables ("NAME=value"): HOME, XDG_RUNTIME_DIR, SHELL, WAYLAND_DISPLAY,
    // DISPLAY, XAUTHORITY, DBUS_SESSION_BUS_ADDRESS.
    const std::vector<std::string>& environment() const { return environment_; }
    // The argument list that runs `command` as the session's user, with the session's variables
    // and `extra` ("NAME=value").
    std::vector<std::string> asUser(const std::vector<std::string>& command,
                                    const std::vector<std::string>& extra = {}) const;
    // The same without the session bus: a program that cannot reach mutter or the
    // accessibility bus.
    std::vector<std::string> asUserWithoutBus(const std::vector<std::string>& command,
                                              const std::vector<std::string>& extra = {}) const;
    // Starts `command` in the session, in the background; stopped with the session.
    bool start(const std::vector<std::string>& command, const std::vector<std::string>& extra = {});
    // A new folder owned by the session's user.
    std::string userFolder(const std::string& name) const;
    // Hands `path` and everything in it to the session's user.
    void giveToUser(const std::string& path) const;

  private:
    SessionUser user_;
    std::string state_;
    std::string runtime_;
    std::vector<std::string> environment_;
    std::shared_ptr<Subprocess> systemBus_;
    std::shared_ptr<Subprocess> shell_;
    std::vector<std::shared_ptr<Subprocess>> started_;
    bool running_ = false;
    std::string why_;
};

} // namespace vak::test
