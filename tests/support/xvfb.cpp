#include "support/xvfb.h"

#include "base/files.h"
#include "support/wait.h"

#include <cstdlib>

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace vak::test {

Xvfb::Xvfb() {
    SpawnOptions options;
    // -displayfd: the server picks a free display number and writes it to standard output.
    options.argv = {"/usr/bin/Xvfb", "-displayfd", "1",   "-screen", "0",
                    "1280x800x24",   "-nolisten",  "tcp", "-noreset"};
    options.pipeStdout = true;
    if (!isExecutableFile(options.argv[0])) {
        why_ = "Xvfb is not installed (Debian package xvfb)";
        return;
    }
    server_ = Subprocess::spawn(options, &why_);
    std::string line;
    waitUntil(
        [&] {
            pollfd p{server_ ? server_->stdoutFd() : -1, POLLIN, 0};
            char buffer[64];
            const int ready = ::poll(&p, 1, 100);
            const ssize_t n = ready > 0 ? ::read(p.fd, buffer, sizeof buffer) : 0;
            if (n > 0) line.append(buffer, static_cast<std::size_t>(n));
            return !server_ || (ready > 0 && n <= 0) || line.find('\n') != std::string::npos;
        },
        15);
    display_ = ":" + line.substr(0, line.find('\n'));
    xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
    const bool answers = line.find('\n') != std::string::npos && xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    if (!answers) {
        why_ = "Xvfb did not come up " + why_;
        return;
    }
    if (const char* before = std::getenv("DISPLAY")) previousDisplay_ = before;
    setenv("DISPLAY", display_.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE"); // nothing may take this for a Wayland session
    why_.clear();
}

Xvfb::~Xvfb() {
    if (running() && previousDisplay_) {
        setenv("DISPLAY", previousDisplay_->c_str(), 1);
    } else if (running()) {
        unsetenv("DISPLAY");
    }
    stopChild(server_);
}

} // namespace vak::test
