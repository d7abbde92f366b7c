#pragma once

#include "base/main_queue.h"

#include <memory>

namespace vak {

// The main queue of the daemon: work runs on the thread of the Qt event loop, between its other
// events. Construct it on that thread after the application object; post() and after() may then
// be called from any thread. Work posted from one thread runs in the order it was posted; timed
// work runs at its deadline (precise timers) unless its handle was cancelled first.
//
// Once the queue is destroyed (on the event loop's thread) work still pending is dropped, and
// later posts do nothing, so a background thread that outlives it cannot reach a dead object.
class QtMainQueue final : public MainQueue {
  public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(Task task) override;
    TimerHandle after(double seconds, Task task) override;

    struct Shared;

  private:
    std::shared_ptr<Shared> shared_;
};

} // namespace vak
