#pragma once

#include "platform/key_monitor.h"
#include "session/key_recognizer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vak {

class MainQueue;

// Installs the global key monitor once the process may watch input, polling every 3 s until
// then, and logs each step. One instance lives for the process; its retry timer holds it
// weakly. Main thread only.
class MonitorArming final : public std::enable_shared_from_this<MonitorArming> {
  public:
    // `handler` gets every event once `monitor` runs (normally KeyRecognizer::handle).
    static std::shared_ptr<MonitorArming> create(TriggerSettings settings,
                                                 InputEventHandler handler, MainQueue& queue,
                                                 std::shared_ptr<KeyMonitor> monitor);

    // Asks whether input may be watched (showing the platform's prompt where there is one),
    // logs the answer and returns it.
    bool ensureAccessibility();
    // Installs the monitor now when trusted, else logs once that the trigger is disarmed and
    // tries again in 3 s, for as long as it takes.
    void armWhenTrusted();
    // Starts the monitor and logs which keys it listens to, and when a key is one the desktop
    // also uses (its launcher key); false (logged) when it cannot run.
    bool installMonitor();

    // Told, once, that the trigger key waits for the permission, with what the user does about
    // it (empty where the platform's standing words say it), and told again with an empty text
    // once the monitor is armed after all.
    void setOnDisarmed(std::function<void(const std::string& help)> onDisarmed) {
        onDisarmed_ = std::move(onDisarmed);
    }

    bool armed() const { return armed_; }
    bool axWaitLogged() const { return axWaitLogged_; }

  private:
    MonitorArming(TriggerSettings settings, InputEventHandler handler, MainQueue& queue,
                  std::shared_ptr<KeyMonitor> monitor);
    static void warnAboutLauncherKey(std::string_view setting, std::uint16_t code);

    TriggerSettings settings_;
    InputEventHandler handler_;
    MainQueue& queue_;
    std::shared_ptr<KeyMonitor> monitor_;
    bool axWaitLogged_ = false;
    bool armed_ = false;
    bool startFailureLogged_ = false;
    std::function<void(const std::string&)> onDisarmed_;
};

} // namespace vak
