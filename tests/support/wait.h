#pragma once

#include "base/subprocess.h"
#include "base/time_util.h"

#include <functional>
#include <memory>
#include <thread>

namespace vak::test {

// What a wait does between two looks: sleep, unless the test program runs an event loop that
// must keep answering (its windows, a clipboard it owns); then it runs that loop instead.
inline std::function<void()>& eventPump() {
    static std::function<void()> pump;
    return pump;
}

// Looks at `done` until it holds or `seconds` pass; true when it held.
template <typename Done>
bool waitUntil(Done done, double seconds = 10) {
    const auto deadline = deadlineAfter(seconds);
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        if (eventPump()) {
            eventPump()();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return true;
}

// Lets `seconds` pass (running the event loop, if there is one).
inline void settle(double seconds) {
    waitUntil([] { return false; }, seconds);
}

// Stops a program the test started, if it did: politely, then by force after five seconds.
inline void stopChild(const std::shared_ptr<Subprocess>& child) {
    if (!child) return;
    child->terminate();
    auto watchdog = armWatchdog(child, 5);
    child->wait();
    watchdog.cancel();
}

} // namespace vak::test
