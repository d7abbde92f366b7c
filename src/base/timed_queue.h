#pragma once

#include "base/executor.h"

namespace vak {

// A serial queue with timers, as the engines run on: in the daemon a thread of its own on the
// steady clock (SerialQueue); in a replay a virtual clock driven by the replay (VirtualQueue),
// so that the engines' own timers decide when their passes run.
class TimedQueue : public Executor {
  public:
    // Fires every `intervalSeconds`, first after `firstDelaySeconds`; deadlines are fixed
    // multiples of the interval, so a slow pass does not push later ones back.
    virtual TimerHandle repeating(double intervalSeconds, Task task, double firstDelaySeconds) = 0;
    TimerHandle repeating(double intervalSeconds, Task task) {
        return repeating(intervalSeconds, std::move(task), intervalSeconds);
    }
    // Runs `task` on the queue and waits for it. From the queue's own thread it runs inline.
    virtual void sync(const Task& task) = 0;
    // True when called from a task running on this queue.
    virtual bool isCurrent() const = 0;
    // Seconds on the clock the queue's timers run on (only differences mean anything).
    virtual double now() const = 0;
};

} // namespace vak
