#include "base/virtual_queue.h"

#include "base/time_util.h"

namespace vak {

namespace {

thread_local const void* currentVirtualQueue = nullptr;

double secondsOf(TaskSchedule::Clock::time_point at) {
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

} // namespace

VirtualQueue::VirtualQueue(bool countRealTime) : countRealTime_(countRealTime) {}

void VirtualQueue::async(Task task) {
    std::lock_guard lock(mutex_);
    schedule_.push(Clock::time_point::min(), std::move(task));
}

TimerHandle VirtualQueue::after(double seconds, Task task) {
    std::lock_guard lock(mutex_);
    return schedule_.push(now_ + durationFromSeconds(seconds), std::move(task));
}

TimerHandle VirtualQueue::repeating(double intervalSeconds, Task task, double firstDelaySeconds) {
    std::lock_guard lock(mutex_);
    return schedule_.push(now_ + durationFromSeconds(firstDelaySeconds), std::move(task),
                          durationFromSeconds(intervalSeconds));
}

void VirtualQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    while (const auto next = nextStart()) {
        if (*next > now()) break;
        runNext();
    }
    const void* outer = currentVirtualQueue;
    currentVirtualQueue = this;
    task();
    currentVirtualQueue = outer;
}

bool VirtualQueue::isCurrent() const {
    return currentVirtualQueue == this;
}

double VirtualQueue::now() const {
    std::lock_guard lock(mutex_);
    double seconds = secondsOf(now_);
    if (running_ && countRealTime_) seconds += secondsSince(runningSince_);
    return seconds;
}

void VirtualQueue::elapse(double seconds) {
    std::lock_guard lock(mutex_);
    now_ += durationFromSeconds(seconds);
}

void VirtualQueue::takeBackTo(double seconds) {
    std::lock_guard lock(mutex_);
    if (running_ && countRealTime_) {
        now_ += Clock::now() - runningSince_;
        runningSince_ = Clock::now();
    }
    now_ =
        std::max(std::min(now_, Clock::time_point{} + durationFromSeconds(seconds)), runningStart_);
}

std::optional<double> VirtualQueue::nextStart() {
    std::lock_guard lock(mutex_);
    const auto at = schedule_.nextAt();
    if (!at) return std::nullopt;
    return secondsOf(std::max(*at, now_));
}

bool VirtualQueue::runNext() {
    std::optional<TaskSchedule::Due> due;
    {
        std::lock_guard lock(mutex_);
        const auto at = schedule_.nextAt();
        if (!at) return false;
        now_ = std::max(now_, *at);
        due = schedule_.popDue(now_);
        runningStart_ = now_;
        running_ = true;
        runningSince_ = Clock::now();
    }
    const void* outer = currentVirtualQueue;
    currentVirtualQueue = this;
    if (due && !due->cancelled->load()) runTaskGuarded(*due->task);
    currentVirtualQueue = outer;
    std::lock_guard lock(mutex_);
    if (countRealTime_) now_ += Clock::now() - runningSince_;
    running_ = false;
    return true;
}

void VirtualQueue::advanceTo(double seconds) {
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, Clock::time_point{} + durationFromSeconds(seconds));
}

} // namespace vak
