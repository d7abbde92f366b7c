#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vak {

class MainQueue;

// The Qt side of the daemon's process: the application object, the main queue driven by its
// event loop (installed as the process's main queue while this object lives), and the test
// signals delivered on that loop. Build it on the main thread, once.
class DesktopApp {
  public:
    explicit DesktopApp(const std::vector<std::string>& args);
    ~DesktopApp();
    DesktopApp(const DesktopApp&) = delete;
    DesktopApp& operator=(const DesktopApp&) = delete;

    MainQueue& mainQueue();

    // SIGUSR1 and SIGUSR2 call `onSignal(signo)` on the main thread from now on, and SIGTERM,
    // SIGINT and SIGHUP end the event loop as Quit does (so what the daemon started stops with
    // it). False when the signals cannot be watched.
    bool watchTestSignals(std::function<void(int signo)> onSignal);

    // Runs the event loop until Quit; returns its exit status.
    int run();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vak
