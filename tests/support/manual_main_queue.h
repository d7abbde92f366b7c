#pragma once

#include "base/main_queue.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

namespace vak::test {

// A main queue on a pretend clock: nothing runs until the test advances time, and then every
// task due by the new time runs in deadline order (posts first, in order). Single-threaded.
class ManualMainQueue final : public MainQueue {
  public:
    void post(Task task) override { after(0, std::move(task)); }

    TimerHandle after(double seconds, Task task) override {
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        tasks_.emplace(std::make_pair(now_ + (seconds > 0 ? seconds : 0), next_++),
                       Entry{std::move(task), cancelled});
        return TimerHandle(cancelled);
    }

    // Moves the clock on by `seconds`, running what falls due on the way.
    void advance(double seconds) {
        const double until = now_ + seconds;
        while (!tasks_.empty() && tasks_.begin()->first.first <= until) {
            auto node = tasks_.extract(tasks_.begin());
            now_ = node.key().first;
            if (!node.mapped().cancelled->load()) node.mapped().task();
        }
        now_ = until;
    }

    double now() const { return now_; }
    std::size_t pending() const { return tasks_.size(); }

  private:
    struct Entry {
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    double now_ = 0;
    std::uint64_t next_ = 0;
    std::map<std::pair<double, std::uint64_t>, Entry> tasks_;
};

} // namespace vak::test
