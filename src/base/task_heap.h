#pragma once

#include "base/executor.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <vector>

namespace vak {

// Runs a task; an exception it throws is reported on stderr instead of ending the thread.
void runTaskGuarded(const Task& task);

// Time-ordered work shared by the serial queues, the main run loop and the delay scheduler of
// the global queues: immediate tasks run in FIFO order, timed tasks at their deadline, and a
// repeating task is re-armed from its previous deadline so it does not drift.
class TaskHeap {
  public:
    using Clock = std::chrono::steady_clock;

    TimerHandle push(Clock::time_point at, Task task,
                     Clock::duration repeat = Clock::duration::zero());
    void pushNow(Task task) { push(Clock::time_point::min(), std::move(task)); }

    // Runs due tasks one at a time until `deadline` passes or stop() is called.
    // Returns false once stopped. Must be driven by one thread at a time.
    bool runUntil(Clock::time_point deadline);
    void stop();
    bool stopped() const;

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

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::priority_queue<Item, std::vector<Item>, Later> items_;
    std::uint64_t nextSeq_ = 0;
    bool stopped_ = false;
};

} // namespace vak
