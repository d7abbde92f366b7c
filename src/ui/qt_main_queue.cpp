#include "ui/qt_main_queue.h"

#include "base/task_heap.h"
#include "base/time_util.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>

namespace vak {

// The receiver object lives on the event loop's thread; a queued call to it is how another
// thread hands work over. The mutex orders every hand-over before the receiver's deletion:
// deleting a QObject discards the events still queued for it, and a post that has not started
// by then sees no receiver at all.
struct QtMainQueue::Shared {
    std::mutex mutex;
    QObject* receiver = nullptr;

    void invoke(std::function<void()> work) {
        std::lock_guard lock(mutex);
        if (receiver == nullptr) return;
        QMetaObject::invokeMethod(receiver, std::move(work), Qt::QueuedConnection);
    }
};

QtMainQueue::QtMainQueue() : shared_(std::make_shared<Shared>()) {
    shared_->receiver = new QObject();
}

QtMainQueue::~QtMainQueue() {
    std::lock_guard lock(shared_->mutex);
    delete shared_->receiver;
    shared_->receiver = nullptr;
}

void QtMainQueue::post(Task task) {
    shared_->invoke([task = std::move(task)] { runTaskGuarded(task); });
}

namespace {

// Starts a timer on the receiver's thread for what is left until `deadline`. A wait longer than a
// Qt timer can hold (about 24 days) is covered by timers in a row.
void arm(const std::shared_ptr<QtMainQueue::Shared>& shared, SteadyClock::time_point deadline,
         std::shared_ptr<std::atomic<bool>> cancelled, std::shared_ptr<Task> task) {
    if (cancelled->load()) return;
    const auto remaining =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    const auto ms =
        static_cast<int>(std::clamp<std::int64_t>(remaining, 0, std::numeric_limits<int>::max()));
    std::weak_ptr<QtMainQueue::Shared> weak = shared;
    QTimer::singleShot(ms, Qt::PreciseTimer, shared->receiver, [weak, deadline, cancelled, task] {
        if (cancelled->load()) return;
        if (SteadyClock::now() < deadline) {
            if (const auto alive = weak.lock()) arm(alive, deadline, cancelled, task);
            return;
        }
        runTaskGuarded(*task);
    });
}

} // namespace

TimerHandle QtMainQueue::after(double seconds, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    // The deadline counts from the call, not from when the event loop gets to start the timer.
    const auto deadline = deadlineAfter(seconds);
    std::weak_ptr<Shared> weak = shared_;
    shared_->invoke([weak, deadline, cancelled, task = std::make_shared<Task>(std::move(task))] {
        if (const auto shared = weak.lock()) arm(shared, deadline, cancelled, task);
    });
    return TimerHandle(cancelled);
}

} // namespace vak
