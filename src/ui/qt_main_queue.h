#pragma once

#include "base/main_queue.h"

#include <memory>

namespace vak {

// The main queue of the daemon: work runs on the thread of the Qt event loop, between its other
// events. Construct it on that thread after the application object; post() and after() may then
// be called from any thread. Work posted from one thread runs in the order it was posted; timed
// work runs at its deadline (precise timers) unless its handle was cancelled first.
//
// Destroying the queue (on the event loop's thread) drops the work still pending, and a post
// racing with the destruction either lands before it (and is dropped) or finds the queue closed;
// uninstall it from mainQueue() first, so no thread reaches the object afterwards.
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
