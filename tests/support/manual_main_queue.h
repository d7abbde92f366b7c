#pragma once

#include "base/main_queue.h"

#include <algorithm>
#include <map>
#include <memory>

namespace vak::test {

// A main queue on a pretend clock: nothing runs until the test advances time, and then every
// task due by the new time runs in deadline order (posts first, in order). Single-threaded.
class ManualMainQueue final : public MainQueue {
  public:
    void post(Task task) override { after(0, std::move(task)); }

    TimerHandle after(double seconds, Task task) override {
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        tasks_.emplace(now_ + std::max(seconds, 0.0), Entry{std::move(task), cancelled});
        return TimerHandle(cancelled);
    }

    // Moves the clock on by `seconds`, running what falls due on the way.
    void advance(double seconds) {
        const double until = now_ + seconds;
        while (!tasks_.empty() && tasks_.begin()->first <= until) {
            auto node = tasks_.extract(tasks_.begin());
            now_ = node.key();
            if (!node.mapped().cancelled->load()) node.mapped().task();
        }
        now_ = until;
    }

    std::size_t pending() const { return tasks_.size(); }
    double now() const { return now_; }

  private:
    struct Entry {
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    double now_ = 0;
    std::multimap<double, Entry> tasks_; // equal deadlines in the order they came
};

} // namespace vak::test
