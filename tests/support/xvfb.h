#pragma once

#include "base/subprocess.h"

#include <memory>
#include <optional>
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

    bool running() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    const std::string& display() const { return display_; }
    // The server's process, for measuring what drawing costs it; -1 when none runs.
    pid_t serverPid() const { return server_ ? server_->pid() : -1; }

  private:
    std::shared_ptr<Subprocess> server_;
    std::string display_;
    std::optional<std::string> previousDisplay_;
    std::string why_ = "not started";
};

} // namespace vak::test
