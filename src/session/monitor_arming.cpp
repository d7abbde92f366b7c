#include "session/monitor_arming.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/trigger_keys.h"

#include <string>

namespace vak {

namespace {

constexpr double kTrustPollSeconds = 3.0;

// Where the user grants the permission: System Settings on macOS; on Linux there is nothing to
// grant, but the program needs an X11 session it can reach.
#ifdef __APPLE__
constexpr const char* kNotGranted = "Accessibility NOT granted — System Settings ▸ Privacy & "
                                    "Security ▸ Accessibility, enable 'vak-dictate', then "
                                    "relaunch.";
constexpr const char* kWaiting = "waiting for Accessibility — trigger key DISARMED until "
                                 "granted (System Settings ▸ Privacy & Security ▸ Accessibility "
                                 "▸ vak-dictate)";
#else
constexpr const char* kNotGranted = "Accessibility NOT granted — X11 session ▸ DISPLAY ▸ "
                                    "XInput2, start 'vak-dictate' inside it, then relaunch.";
constexpr const char* kWaiting = "waiting for Accessibility — trigger key DISARMED until "
                                 "granted (X11 session ▸ DISPLAY ▸ XInput2 ▸ vak-dictate)";
#endif

} // namespace

std::shared_ptr<MonitorArming> MonitorArming::create(TriggerSettings settings,
                                                     InputEventHandler handler, MainQueue& queue) {
    return std::shared_ptr<MonitorArming>(new MonitorArming(settings, std::move(handler), queue));
}

MonitorArming::MonitorArming(TriggerSettings settings, InputEventHandler handler, MainQueue& queue)
    : settings_(settings), handler_(std::move(handler)), queue_(queue) {}

bool MonitorArming::ensureAccessibility() {
    const auto monitor = keyMonitor();
    const bool trusted = monitor->isTrusted(true);
    if (trusted) {
        log(LogLevel::ok, "Accessibility granted");
    } else if (const std::string help = monitor->accessHelp(); !help.empty()) {
        log(LogLevel::warning, "Accessibility NOT granted — " + help);
    } else {
        log(LogLevel::warning, kNotGranted);
    }
    return trusted;
}

void MonitorArming::armWhenTrusted() {
    if (armed_) return;
    const auto monitor = keyMonitor();
    if (monitor->isTrusted(false) && installMonitor()) return;
    if (!axWaitLogged_) {
        axWaitLogged_ = true;
        const std::string help = monitor->accessHelp();
        log(LogLevel::warning,
            help.empty()
                ? std::string(kWaiting)
                : "waiting for Accessibility — trigger key DISARMED until granted (" + help + ")");
        if (onDisarmed_) onDisarmed_(help);
    }
    std::weak_ptr<MonitorArming> weak = weak_from_this();
    queue_.after(kTrustPollSeconds, [weak] {
        if (const auto self = weak.lock()) self->armWhenTrusted();
    });
}

bool MonitorArming::installMonitor() {
    if (!keyMonitor()->start(handler_)) {
        // Logged once: the poll comes back here every few seconds.
        if (!startFailureLogged_)
            log(LogLevel::warning, "key monitor could not start — trigger key DISARMED");
        startFailureLogged_ = true;
        return false;
    }
    armed_ = true;
    if (axWaitLogged_ && onDisarmed_) onDisarmed_({});
    std::string line =
        "key monitor armed — " + std::string(triggerKey(settings_.hotkey).name) + " = dictation";
    if (settings_.watchesProducerKey()) {
        line += ", " + std::string(triggerKey(settings_.producerKey).name) + " = producer talk";
    }
    log(LogLevel::ok, line);
    return true;
}

} // namespace vak
