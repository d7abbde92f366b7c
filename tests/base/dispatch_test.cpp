#include "base/poll_thread.h"
#include "base/serial_queue.h"
#include "base/time_util.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A wake-up given just after the thread looked for work (here: by itself, each round) must still
// be seen: it waits with no time limit, so a lost one hangs it. A hook ends it; nothing stays open.
TEST(PollThread, SeesEveryWakeUpEndsWhenAHookSaysSoAndLeavesNoDescriptor) {
    const auto lowestFreeFd = [] {
        const int fd = ::dup(0);
        ::close(fd);
        return fd;
    };
    const int freeBefore = lowestFreeFd();
    std::atomic<int> rounds{0};
    std::atomic<int> finished{0};
    std::atomic<PollThread*> self{nullptr};
    auto poller = PollThread::start({
        .prepare =
            [&](std::vector<pollfd>&, int& timeoutMs) {
                timeoutMs = -1;
                if (PollThread* thread = self.load()) thread->wake();
                return self.load() == nullptr || ++rounds < 200;
            },
        .dispatch = [](const std::vector<pollfd>&) { return true; },
        .finish = [&] { ++finished; },
    });
    ASSERT_TRUE(poller);
    self = poller.get();
    std::thread([&] { poller->wake(); }).join();
    const auto start = Clock::now();
    while (poller->running() && secondsSince(start) < 5)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(rounds.load(), 200);
    poller.reset();
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(lowestFreeFd(), freeBefore);
}

// Tick k is due at (k + 1) × 100 ms after the start, however long each pass took; delayed work
// fires no earlier than asked, and a cancelled timer never again.
TEST(SerialQueue, TimersKeepTheirScheduleAndCancelledOnesNeverFire) {
    SerialQueue queue("test.timers");
    std::vector<double> ticks; // read once the timer is cancelled and the queue idle
    const auto start = Clock::now();
    TimerHandle timer = queue.repeating(0.1, [&] {
        ticks.push_back(secondsSince(start));
        std::this_thread::sleep_for(40ms); // a slow pass must not push the next one back
    });
    std::promise<double> fired;
    queue.after(0.15, [&] { fired.set_value(secondsSince(start)); });
    std::atomic<bool> cancelledRan{false};
    queue.after(0.1, [&] { cancelledRan = true; }).cancel();
    std::this_thread::sleep_for(650ms);
    timer.cancel();
    queue.sync([] {}); // any firing already under way has finished
    const auto atCancel = ticks.size();
    ASSERT_GE(atCancel, 5u);
    EXPECT_GE(ticks[4], 0.5);
    EXPECT_LT(ticks[4], 0.63); // drifting from the end of each pass would give 0.66
    EXPECT_GE(fired.get_future().get(), 0.15);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(ticks.size(), atCancel);
    EXPECT_FALSE(cancelledRan.load());
}

} // namespace
} // namespace vak
