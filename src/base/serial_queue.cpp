#include "base/serial_queue.h"

#include "base/task_heap.h"
#include "base/time_util.h"

#include <future>
#include <thread>

namespace vak {

struct SerialQueue::State {
    std::string label;
    TaskHeap heap;
};

namespace {
thread_local const void* currentQueueState = nullptr;
}

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    std::thread worker([state = state_] {
        currentQueueState = state.get();
        state->heap.runUntil(TaskHeap::Clock::time_point::max());
    });
    worker.detach();
}

SerialQueue::~SerialQueue() {
    // The worker owns its own reference to the state, so it may outlive this object; it ends as
    // soon as it sees the stop flag. Waiting here would deadlock when the queue is released from
    // one of its own tasks, and the thread touches nothing else.
    state_->heap.stop();
}

const std::string& SerialQueue::label() const {
    return state_->label;
}

void SerialQueue::async(Task task) {
    state_->heap.pushNow(std::move(task));
}

TimerHandle SerialQueue::after(double seconds, Task task) {
    return state_->heap.push(deadlineAfter(seconds), std::move(task));
}

TimerHandle SerialQueue::repeating(double intervalSeconds, Task task, double firstDelaySeconds) {
    return state_->heap.push(deadlineAfter(firstDelaySeconds), std::move(task),
                             durationFromSeconds(intervalSeconds));
}

void SerialQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    state_->heap.pushNow([&task, &done] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get();
}

bool SerialQueue::isCurrent() const {
    return currentQueueState == state_.get();
}

double SerialQueue::now() const {
    return std::chrono::duration<double>(SteadyClock::now().time_since_epoch()).count();
}

} // namespace vak
