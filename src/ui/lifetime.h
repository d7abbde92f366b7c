#pragma once

#include <memory>
#include <utility>

namespace vak {

// Lets work queued for later (on the main queue, in a panel's close action) tell whether the
// object that queued it still exists. The object holds a Lifetime as a member; the work is
// wrapped by guard() and does nothing once the object has gone.
class Lifetime {
  public:
    Lifetime() = default;
    ~Lifetime() { *alive_ = false; }
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    template <class Work>
    auto guard(Work work) const {
        return [alive = token(), work = std::move(work)](auto&&... args) {
            if (isAlive(alive)) work(std::forward<decltype(args)>(args)...);
        };
    }

    // For work that runs regardless and needs the object only for its last step.
    std::weak_ptr<bool> token() const { return alive_; }
    static bool isAlive(const std::weak_ptr<bool>& token) {
        const auto held = token.lock();
        return held && *held;
    }

  private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace vak
