#pragma once

#include "base/executor.h"

#include <memory>

namespace vak {

// The main thread's queue. The daemon installs one driven by its event loop; command-line modes
// use RunLoopMainQueue and drive it themselves.
class MainQueue {
  public:
    virtual ~MainQueue() = default;
    virtual void post(Task task) = 0;
    virtual TimerHandle after(double seconds, Task task) = 0;
};

// A main queue for programs without an event loop: work runs only while the main thread
// drives it with runFor / runUntilStopped.
class RunLoopMainQueue final : public MainQueue {
  public:
    RunLoopMainQueue();
    ~RunLoopMainQueue() override;

    void post(Task task) override;
    TimerHandle after(double seconds, Task task) override;

    // Runs due work for `seconds`, then returns.
    void runFor(double seconds);
    // Runs until stop() is called from any thread.
    void runUntilStopped();
    void stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The installed main queue. Until one is installed, a process-wide RunLoopMainQueue serves.
MainQueue& mainQueue();
// Installs `queue` for the rest of the process (the caller keeps it alive).
void installMainQueue(MainQueue* queue);
// The fallback run loop, for command-line modes that drive the main queue by hand.
RunLoopMainQueue& defaultRunLoop();

} // namespace vak
