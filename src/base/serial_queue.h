#pragma once

#include "base/executor.h"

#include <memory>
#include <string>

namespace vak {

// One thread running work in FIFO order, with one-shot and repeating timers.
// Destroying the queue drops what has not started and joins its thread (or lets it wind down
// on its own when the last reference goes from inside one of its tasks).
class SerialQueue final : public Executor {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    void async(Task task) override;
    TimerHandle after(double seconds, Task task) override;
    // Fires every `intervalSeconds`, first after `firstDelaySeconds`; deadlines are fixed
    // multiples of the interval, so a slow pass does not push later ones back.
    TimerHandle repeating(double intervalSeconds, Task task, double firstDelaySeconds);
    TimerHandle repeating(double intervalSeconds, Task task) {
        return repeating(intervalSeconds, std::move(task), intervalSeconds);
    }
    // Runs `task` on the queue and waits for it. From the queue's own thread it runs inline.
    void sync(const Task& task);
    // True when called from a task running on this queue.
    bool isCurrent() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace vak
