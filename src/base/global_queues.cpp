#include "base/global_queues.h"

#include "base/task_heap.h"
#include "base/time_util.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vak {

namespace {

constexpr int kMaxThreads = 64;
constexpr auto kIdleExit = std::chrono::seconds(5);

// Fires delayed work of the global queues by handing it to its queue when due.
class DelayScheduler {
  public:
    DelayScheduler() {
        std::thread([this] { heap_.runUntil(TaskHeap::Clock::time_point::max()); }).detach();
    }
    TimerHandle schedule(double seconds, Executor& target, Task task) {
        // The handle given out is the heap's, so cancelling also stops the hand-over.
        auto handle = std::make_shared<TimerHandle>();
        *handle = heap_.push(deadlineAfter(seconds), [&target, handle, task = std::move(task)] {
            target.async([handle, task] {
                if (!handle->isCancelled()) task();
            });
        });
        return *handle;
    }

  private:
    TaskHeap heap_;
};

DelayScheduler& delayScheduler() {
    // Deliberately never destroyed: detached threads may still use it while the process exits.
    static auto* scheduler = new DelayScheduler();
    return *scheduler;
}

class ConcurrentQueue final : public Executor {
  public:
    void async(Task task) override {
        bool spawn = false;
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            // Count tasks not yet claimed by an idle thread: a task that blocks on one queued
            // right after it must get a thread of its own.
            if (tasks_.size() > static_cast<std::size_t>(idle_) && threads_ < kMaxThreads) {
                ++threads_;
                spawn = true;
            }
        }
        if (spawn) {
            std::thread([this] { work(); }).detach();
        } else {
            ready_.notify_one();
        }
    }

    TimerHandle after(double seconds, Task task) override {
        return delayScheduler().schedule(seconds, *this, std::move(task));
    }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (tasks_.empty()) {
                ++idle_;
                const bool woke =
                    ready_.wait_for(lock, kIdleExit, [this] { return !tasks_.empty(); });
                --idle_;
                if (!woke) {
                    --threads_;
                    return;
                }
            }
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            runTaskGuarded(task);
            task = nullptr;
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Task> tasks_;
    int threads_ = 0;
    int idle_ = 0;
};

} // namespace

Executor& globalQueue(QoS qos) {
    // Never destroyed, for the same reason as the scheduler.
    static auto* queues = new ConcurrentQueue[3];
    switch (qos) {
    case QoS::UserInitiated:
        return queues[0];
    case QoS::Default:
        return queues[1];
    case QoS::Utility:
        break;
    }
    return queues[2];
}

} // namespace vak
