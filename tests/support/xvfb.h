#pragma once

#include "base/subprocess.h"

#include <memory>
#include <string>

namespace vak::test {

// A private X display for tests: an Xvfb server on a display number it picks itself (free at
// that moment), with no window manager. DISPLAY points at it for the fixture's life, so
// everything the test starts (its own X connections, Qt, child processes) lands there and never
// on the desktop of the person running the tests.
class Xvfb {
  public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // False (with the reason in why()) when no server could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }
    // ":N"
    const std::string& display() const { return display_; }
    // The server's process, for measuring what drawing costs it; -1 when none runs.
    pid_t serverPid() const { return server_ ? server_->pid() : -1; }

  private:
    std::shared_ptr<Subprocess> server_;
    std::string display_;
    std::string previousDisplay_;
    bool hadDisplay_ = false;
    bool running_ = false;
    std::string why_;
};

} // namespace vak::test
