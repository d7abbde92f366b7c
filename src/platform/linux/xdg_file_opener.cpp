#include "platform/linux/xdg_file_opener.h"

#include "base/global_queues.h"
#include "base/log.h"
#include "base/subprocess.h"

namespace vak {

XdgFileOpener::XdgFileOpener(std::string xdgOpen, double timeoutSeconds)
    : xdgOpen_(std::move(xdgOpen)), timeoutSeconds_(timeoutSeconds) {}

bool XdgFileOpener::open(const std::string& path) {
    SpawnOptions options;
    // "--" is not understood by xdg-open; a path starting with "-" is made harmless instead.
    options.argv = {xdgOpen_, !path.empty() && path.front() == '-' ? "./" + path : path};
    std::string error;
    const auto child = Subprocess::spawn(options, &error);
    if (!child) {
        log(LogLevel::warning, "cannot open " + path + ": " + error);
        return false;
    }
    const TimerHandle watchdog = armWatchdog(child, timeoutSeconds_);
    globalQueue(QoS::Utility).async([child, watchdog, path] {
        const ExitStatus status = child->wait();
        watchdog.cancel();
        if (!status.success() && !child->stoppedByWatchdog()) {
            log(LogLevel::warning, "xdg-open could not open " + path + " (status " +
                                       std::to_string(status.code) + ")");
        }
    });
    return true;
}

} // namespace vak
