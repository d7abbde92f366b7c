#include "base/task_heap.h"

#include <cstdio>
#include <exception>

namespace vak {

void runTaskGuarded(const Task& task) {
    try {
        task();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "‼️ uncaught exception in queued task: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "‼️ uncaught exception in queued task\n");
    }
}

TimerHandle TaskHeap::push(Clock::time_point at, Task task, Clock::duration repeat) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        items_.push(
            Item{at, nextSeq_++, std::make_shared<Task>(std::move(task)), repeat, cancelled});
    }
    wake_.notify_one();
    return TimerHandle(cancelled);
}

bool TaskHeap::runUntil(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopped_) return false;
        const auto now = Clock::now();
        if (!items_.empty() && items_.top().at <= now) {
            Item item = items_.top();
            items_.pop();
            if (item.cancelled->load()) continue;
            if (item.repeat > Clock::duration::zero()) {
                // Re-arm from the scheduled time, skipping ticks already missed.
                auto next = item.at + item.repeat;
                while (next <= now)
                    next += item.repeat;
                items_.push(Item{next, nextSeq_++, item.task, item.repeat, item.cancelled});
            }
            lock.unlock();
            if (!item.cancelled->load()) runTaskGuarded(*item.task);
            lock.lock();
            continue;
        }
        if (now >= deadline) return true;
        auto wakeAt = deadline;
        if (!items_.empty() && items_.top().at < wakeAt) wakeAt = items_.top().at;
        if (wakeAt == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, wakeAt);
        }
    }
}

void TaskHeap::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

bool TaskHeap::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

} // namespace vak
