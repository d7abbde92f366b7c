#pragma once

#include <atomic>
#include <memory>

namespace vak {

// Handle to delayed or repeating work. Cancelling stops every firing that has not yet begun;
// a firing already running finishes. A default-constructed handle refers to nothing.
class TimerHandle {
  public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<std::atomic<bool>> cancelled)
        : cancelled_(std::move(cancelled)) {}

    void cancel() const {
        if (cancelled_) cancelled_->store(true);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }
    bool isValid() const { return cancelled_ != nullptr; }

  private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

} // namespace vak
