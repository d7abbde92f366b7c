#pragma once

#include "base/timed_queue.h"

#include <memory>
#include <string>

namespace vak {

// One thread running work in FIFO order, with one-shot and repeating timers.
// Destroying the queue drops what has not started and joins its thread (or lets it wind down
// on its own when the last reference goes from inside one of its tasks).
class SerialQueue final : public TimedQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    void async(Task task) override;
    TimerHandle after(double seconds, Task task) override;
    using TimedQueue::repeating;
    TimerHandle repeating(double intervalSeconds, Task task, double firstDelaySeconds) override;
    void sync(const Task& task) override;
    bool isCurrent() const override;
    double now() const override;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace vak
