#pragma once

#include "base/executor.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <queue>
#include <vector>

namespace vak {

// Runs a task; an exception it throws is reported on stderr instead of ending the thread.
void runTaskGuarded(const Task& task);

// The order work runs in, without locks or waiting: immediate tasks in FIFO order before any
// timed one, timed tasks by deadline, and a repeating task re-armed from its previous deadline,
// skipping the ticks already missed, so that it does not drift and a slow task delays only the
// next tick. Shared by the threaded queues and the virtual clock of the replays.
class TaskSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    struct Due {
        std::shared_ptr<Task> task;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    TimerHandle push(Clock::time_point at, Task task,
                     Clock::duration repeat = Clock::duration::zero());
    // The deadline of the first task not cancelled (immediate ones: the earliest time there is).
    std::optional<Clock::time_point> nextAt();
    // Takes the first task due at `now`, re-arming it when it repeats.
    std::optional<Due> popDue(Clock::time_point now);

  private:
    struct Item {
        Clock::time_point at;
        std::uint64_t seq = 0;
        std::shared_ptr<Task> task;
        Clock::duration repeat{};
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    struct Later {
        bool operator()(const Item& a, const Item& b) const {
            return a.at != b.at ? a.at > b.at : a.seq > b.seq;
        }
    };

    std::priority_queue<Item, std::vector<Item>, Later> items_;
    std::uint64_t nextSeq_ = 0;
};

// Time-ordered work shared by the serial queues, the main run loop and the delay scheduler of
// the global queues, on the steady clock and driven by one thread.
class TaskHeap {
  public:
    using Clock = TaskSchedule::Clock;

    TimerHandle push(Clock::time_point at, Task task,
                     Clock::duration repeat = Clock::duration::zero());
    void pushNow(Task task) { push(Clock::time_point::min(), std::move(task)); }

    // Runs due tasks one at a time until `deadline` passes or stop() is called.
    // Returns false once stopped. Must be driven by one thread at a time.
    bool runUntil(Clock::time_point deadline);
    void stop();
    bool stopped() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    TaskSchedule schedule_;
    bool stopped_ = false;
};

} // namespace vak
