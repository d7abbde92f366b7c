#include "base/main_queue.h"

#include "base/task_heap.h"
#include "base/time_util.h"

#include <atomic>

namespace vak {

struct RunLoopMainQueue::State {
    TaskHeap heap;
};

RunLoopMainQueue::RunLoopMainQueue() : state_(std::make_unique<State>()) {}
RunLoopMainQueue::~RunLoopMainQueue() = default;

void RunLoopMainQueue::post(Task task) {
    state_->heap.pushNow(std::move(task));
}

TimerHandle RunLoopMainQueue::after(double seconds, Task task) {
    return state_->heap.push(deadlineAfter(seconds), std::move(task));
}

void RunLoopMainQueue::runFor(double seconds) {
    state_->heap.runUntil(deadlineAfter(seconds));
}

void RunLoopMainQueue::runUntilStopped() {
    state_->heap.runUntil(TaskHeap::Clock::time_point::max());
}

void RunLoopMainQueue::stop() {
    state_->heap.stop();
}

namespace {
std::atomic<MainQueue*> installed{nullptr};
}

RunLoopMainQueue& defaultRunLoop() {
    // Never destroyed: background threads may still post to it while the process exits.
    static auto* loop = new RunLoopMainQueue();
    return *loop;
}

MainQueue& mainQueue() {
    MainQueue* queue = installed.load();
    return queue != nullptr ? *queue : defaultRunLoop();
}

void installMainQueue(MainQueue* queue) {
    installed.store(queue);
}

} // namespace vak
