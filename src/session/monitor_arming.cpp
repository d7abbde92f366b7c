#include "session/monitor_arming.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/trigger_keys.h"
#include "platform/host.h"
#include "platform/key_names.h"
#include "producer/producer_link.h"

#include <string>

namespace vak {

namespace {

constexpr double kTrustPollSeconds = 3.0;

// Where the user grants the permission, when the monitor has no words of its own: System
// Settings on macOS; on Linux there is nothing to grant, but the program needs an X11 session it
// can reach.

} // namespace

std::shared_ptr<MonitorArming> MonitorArming::create(TriggerSettings settings,
                                                     InputEventHandler handler, MainQueue& queue,
                                                     std::shared_ptr<KeyMonitor> monitor) {
    return std::shared_ptr<MonitorArming>(
        new MonitorArming(settings, std::move(handler), queue, std::move(monitor)));
}

MonitorArming::MonitorArming(TriggerSettings settings, InputEventHandler handler, MainQueue& queue,
                             std::shared_ptr<KeyMonitor> monitor)
    : settings_(settings), handler_(std::move(handler)), queue_(queue),
      monitor_(std::move(monitor)) {}

bool MonitorArming::ensureAccessibility() {
    const bool trusted = monitor_->isTrusted(true);
    const std::string name = monitor_->accessName();
    if (trusted) {
        log(LogLevel::ok, name + " granted");
    } else {
        const std::string help = monitor_->accessHelp();
        log(LogLevel::warning,
            name + " NOT granted — " + (help.empty() ? std::string(host().keyAccessHelp) : help));
    }
    return trusted;
}

void MonitorArming::armWhenTrusted() {
    if (armed_) return;
    if (monitor_->isTrusted(false) && installMonitor()) return;
    if (!axWaitLogged_) {
        axWaitLogged_ = true;
        const std::string help = monitor_->accessHelp();
        log(LogLevel::warning,
            "waiting for " + monitor_->accessName() + " — trigger key DISARMED until granted (" +
                (help.empty() ? std::string(host().keyAccessWaiting) : help) + ")");
        if (onDisarmed_) onDisarmed_(help);
    }
    std::weak_ptr<MonitorArming> weak = weak_from_this();
    queue_.after(kTrustPollSeconds, [weak] {
        if (const auto self = weak.lock()) self->armWhenTrusted();
    });
}

bool MonitorArming::installMonitor() {
    if (!monitor_->start(handler_)) {
        // Logged once: the poll comes back here every few seconds.
        if (!startFailureLogged_)
            log(LogLevel::warning, "key monitor could not start — trigger key DISARMED");
        startFailureLogged_ = true;
        return false;
    }
    armed_ = true;
    if (axWaitLogged_ && onDisarmed_) onDisarmed_({});
    std::string line = "key monitor armed — " + triggerKeyName(settings_.hotkey) + " = dictation";
    if (settings_.watchesProducerKey()) {
        line += ", " + triggerKeyName(settings_.producerKey) + " = producer talk";
    }
    log(LogLevel::ok, line);
    if (settings_.producerKeySet() && !settings_.producerToolsInstalled) {
        log(LogLevel::info, "producer key not watched — the producer tools are not installed (" +
                                std::string(PRODUCER_CTL_TOOL) + ")");
    }
    warnAboutLauncherKey("HOTKEY", settings_.hotkey);
    if (settings_.watchesProducerKey()) warnAboutLauncherKey("PRODUCER_KEY", settings_.producerKey);
    return true;
}

void MonitorArming::warnAboutLauncherKey(std::string_view setting, std::uint16_t code) {
    if (code == 0 || code != host().desktopLauncherKey) return;
    log(LogLevel::warning, std::string(setting) + " " + std::to_string(code) + " (" +
                               triggerKeyName(code) +
                               ") is the key most desktops open their launcher with — each tap "
                               "may open it too; another key can be set in the settings window");
}

} // namespace vak
