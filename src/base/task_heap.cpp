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

TimerHandle TaskSchedule::push(Clock::time_point at, Task task, Clock::duration repeat) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    items_.push(Item{at, nextSeq_++, std::make_shared<Task>(std::move(task)), repeat, cancelled});
    return TimerHandle(cancelled);
}

std::optional<TaskSchedule::Clock::time_point> TaskSchedule::nextAt() {
    while (!items_.empty() && items_.top().cancelled->load())
        items_.pop();
    if (items_.empty()) return std::nullopt;
    return items_.top().at;
}

std::optional<TaskSchedule::Due> TaskSchedule::popDue(Clock::time_point now) {
    const auto at = nextAt();
    if (!at || *at > now) return std::nullopt;
    Item item = items_.top();
    items_.pop();
    if (item.repeat > Clock::duration::zero()) {
        // Re-arm from the scheduled time, skipping ticks already missed.
        auto next = item.at + item.repeat;
        while (next <= now)
            next += item.repeat;
        items_.push(Item{next, nextSeq_++, item.task, item.repeat, item.cancelled});
    }
    return Due{item.task, item.cancelled};
}

TimerHandle TaskHeap::push(Clock::time_point at, Task task, Clock::duration repeat) {
    TimerHandle handle;
    {
        std::lock_guard lock(mutex_);
        handle = schedule_.push(at, std::move(task), repeat);
    }
    wake_.notify_one();
    return handle;
}

bool TaskHeap::runUntil(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopped_) return false;
        const auto now = Clock::now();
        if (const auto due = schedule_.popDue(now)) {
            lock.unlock();
            if (!due->cancelled->load()) runTaskGuarded(*due->task);
            lock.lock();
            continue;
        }
        if (now >= deadline) return true;
        auto wakeAt = deadline;
        if (const auto next = schedule_.nextAt(); next && *next < wakeAt) wakeAt = *next;
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
