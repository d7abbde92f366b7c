#include "support/xvfb.h"

#include "base/files.h"
#include "base/time_util.h"

#include <cstdlib>
#include <thread>

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace vak::test {

namespace {

constexpr double kStartSeconds = 15;

// Reads what the server writes to its standard output until a line ends or time runs out.
std::string readLine(int fd, double seconds) {
    std::string line;
    const auto deadline = deadlineAfter(seconds);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    return line;
}

bool answers(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    const bool ok = c != nullptr && xcb_connection_has_error(c) == 0;
    if (c != nullptr) xcb_disconnect(c);
    return ok;
}

} // namespace

Xvfb::Xvfb() {
    const std::string program = "/usr/bin/Xvfb";
    if (!isExecutableFile(program)) {
        why_ = "Xvfb is not installed (Debian package xvfb)";
        return;
    }
    SpawnOptions options;
    // -displayfd: the server picks a free display number and writes it to standard output.
    options.argv = {program,       "-displayfd", "1",   "-screen", "0",
                    "1280x800x24", "-nolisten",  "tcp", "-noreset"};
    options.pipeStdout = true;
    std::string error;
    server_ = Subprocess::spawn(options, &error);
    if (!server_) {
        why_ = "cannot start Xvfb: " + error;
        return;
    }
    const std::string line = readLine(server_->stdoutFd(), kStartSeconds);
    const auto end = line.find('\n');
    if (end == std::string::npos || end == 0) {
        why_ = "Xvfb did not come up";
        return;
    }
    display_ = ":" + line.substr(0, end);
    if (!answers(display_)) {
        why_ = "Xvfb on " + display_ + " does not answer";
        return;
    }
    if (const char* before = std::getenv("DISPLAY")) {
        hadDisplay_ = true;
        previousDisplay_ = before;
    }
    setenv("DISPLAY", display_.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE"); // nothing may take this for a Wayland session
    running_ = true;
}

Xvfb::~Xvfb() {
    if (running_) {
        if (hadDisplay_) {
            setenv("DISPLAY", previousDisplay_.c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }
    if (server_) {
        server_->terminate();
        auto watchdog = armWatchdog(server_, 5);
        server_->wait();
        watchdog.cancel();
    }
}

} // namespace vak::test
