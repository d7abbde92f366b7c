#pragma once

#include "base/task_heap.h"
#include "base/timed_queue.h"

#include <mutex>
#include <optional>

namespace vak {

// A serial queue on a virtual clock, for replaying a recording through an engine as the daemon
// runs it, in less time than the recording lasts. Nothing runs until the caller drives it; the
// clock moves to the start of each task, and on by the time the task takes: its real time when
// `countRealTime` is set (a real decoder), plus whatever it declares with elapse() (a modelled
// one). The timers behave as SerialQueue's: a task that runs past a tick delays that tick, and
// the ticks it missed altogether are skipped.
class VirtualQueue final : public TimedQueue {
  public:
    explicit VirtualQueue(bool countRealTime);
    VirtualQueue(const VirtualQueue&) = delete;
    VirtualQueue& operator=(const VirtualQueue&) = delete;

    void async(Task task) override;
    TimerHandle after(double seconds, Task task) override;
    using TimedQueue::repeating;
    TimerHandle repeating(double intervalSeconds, Task task, double firstDelaySeconds) override;
    // Runs what is due now, then `task`.
    void sync(const Task& task) override;
    bool isCurrent() const override;
    double now() const override;

    // The task running now takes `seconds` longer.
    void elapse(double seconds);
    // The clock reads at most `seconds` (never less than when the running task began): the work
    // the running task has done since is taken back, as when a decode is ended early.
    void takeBackTo(double seconds);
    // When the next task would begin: its deadline, or now when the queue is behind.
    std::optional<double> nextStart();
    // Runs the next task, the clock moved to its start; false when nothing is queued.
    bool runNext();
    // The clock reads at least `seconds`; nothing runs.
    void advanceTo(double seconds);

  private:
    using Clock = TaskSchedule::Clock;

    mutable std::mutex mutex_;
    TaskSchedule schedule_;
    Clock::time_point now_{};
    const bool countRealTime_;
    bool running_ = false;
    Clock::time_point runningSince_{}; // real time the running task began
    Clock::time_point runningStart_{}; // its virtual time
};

} // namespace vak
