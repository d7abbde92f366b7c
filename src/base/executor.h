#pragma once

#include "base/timer_handle.h"

#include <functional>

namespace vak {

using Task = std::function<void()>;

// Somewhere to run work: a serial queue or one of the global concurrent queues.
class Executor {
  public:
    virtual ~Executor() = default;
    virtual void async(Task task) = 0;
    // Runs `task` once, `seconds` from now (at once when seconds <= 0).
    virtual TimerHandle after(double seconds, Task task) = 0;
};

} // namespace vak
