#include "base/global_queues.h"
#include "base/main_queue.h"
#include "base/poll_thread.h"
#include "base/serial_queue.h"
#include "base/virtual_queue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The loop the control socket, the key monitors and the Wayland connection share. Work handed
// over with a wake-up just after the thread looked for work (here: by the thread itself, each
// round) must still be seen: the thread waits with no time limit, so a lost wake-up hangs it. A
// stop ends a thread that waits forever, a hook can end it, and nothing is left open.
TEST(PollThread, SeesEveryWakeUpStopsPromptlyAndLeavesNoDescriptor) {
    const auto lowestFreeFd = [] {
        const int fd = ::dup(0);
        ::close(fd);
        return fd;
    };
    const int freeBefore = lowestFreeFd();
    constexpr int kRounds = 200;
    for (const bool hookEnds : {false, true}) {
        SCOPED_TRACE(hookEnds ? "a hook ends it" : "stopped");
        std::atomic<int> posted{0};
        std::atomic<int> taken{0};
        std::atomic<int> finished{0};
        std::atomic<PollThread*> self{nullptr};
        auto poller = PollThread::start({
            .prepare =
                [&](std::vector<pollfd>&, int& timeoutMs) {
                    taken = posted.load();
                    timeoutMs = -1;
                    if (hookEnds && taken == kRounds) return false;
                    if (PollThread* thread = self.load(); thread && taken < kRounds) {
                        ++posted;
                        thread->wake();
                    }
                    return true;
                },
            .dispatch = [](const std::vector<pollfd>&) { return true; },
            .finish = [&] { ++finished; },
        });
        ASSERT_TRUE(poller);
        self = poller.get();
        ++posted;
        std::thread([&] { poller->wake(); }).join();
        const auto deadline = Clock::now() + 5s;
        while (taken < kRounds && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(taken.load(), kRounds);
        const auto stopAsked = Clock::now();
        if (hookEnds) {
            while (poller->running() && Clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            EXPECT_FALSE(poller->running());
        }
        poller.reset();
        EXPECT_LT(secondsBetween(stopAsked, Clock::now()), 1.0);
        EXPECT_EQ(finished.load(), 1);
    }
    EXPECT_EQ(lowestFreeFd(), freeBefore);
}

TEST(SerialQueue, RunsWorkInOrderOnOneThreadAndSyncWaitsForIt) {
    SerialQueue queue("test.order");
    std::vector<int> seen;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            seen.push_back(i);
            threads.insert(std::this_thread::get_id());
        });
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);

    // Sync from other threads waits for the work, and from the queue itself runs inline.
    std::atomic<int> counter{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                int before = -1;
                queue.sync([&] { before = counter++; });
                EXPECT_GE(before, 0); // the work ran before sync returned
            }
        });
    }
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(counter.load(), 200);

    bool inner = false;
    queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        queue.sync([&] { inner = true; }); // would deadlock if it queued behind itself
    });
    EXPECT_TRUE(inner);
    EXPECT_FALSE(queue.isCurrent());

    // A task's exception reaches the caller of sync; the queue survives one that throws.
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    queue.async([] { throw std::runtime_error("ignored"); });
    bool ran = false;
    queue.sync([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(SerialQueue, RepeatingTimerKeepsItsScheduleWhenPassesAreSlow) {
    SerialQueue queue("test.repeat");
    std::mutex mutex;
    std::vector<Clock::time_point> ticks;
    const auto start = Clock::now();
    TimerHandle timer = queue.repeating(0.1, [&] {
        {
            std::lock_guard lock(mutex);
            ticks.push_back(Clock::now());
        }
        std::this_thread::sleep_for(40ms); // a slow pass must not push the next one back
    });
    std::this_thread::sleep_for(650ms);
    timer.cancel();
    std::lock_guard lock(mutex);
    ASSERT_GE(ticks.size(), 5u);
    // Tick k is due at (k + 1) × 100 ms after the start, however long each pass took.
    const double fifth = secondsBetween(start, ticks[4]);
    EXPECT_GE(fifth, 0.5);
    EXPECT_LT(fifth, 0.63); // drifting from the end of each pass would give 0.66
}

TEST(SerialQueue, DelayedWorkFiresNoEarlierThanAskedAndCancelledTimersNeverAgain) {
    SerialQueue queue("test.cancel");
    std::promise<Clock::time_point> fired;
    const auto start = Clock::now();
    queue.after(0.15, [&] { fired.set_value(Clock::now()); });
    std::atomic<int> oneShot{0};
    std::atomic<int> repeats{0};
    TimerHandle single = queue.after(0.1, [&] { ++oneShot; });
    TimerHandle repeating = queue.repeating(0.02, [&] { ++repeats; });
    single.cancel();
    std::this_thread::sleep_for(120ms);
    repeating.cancel();
    queue.sync([] {}); // any firing already under way has finished
    const int atCancel = repeats.load();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(oneShot.load(), 0);
    EXPECT_GT(atCancel, 0);
    EXPECT_EQ(repeats.load(), atCancel);
    EXPECT_TRUE(repeating.isCancelled());
    auto future = fired.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_GE(secondsBetween(start, future.get()), 0.15);
}

TEST(SerialQueue, CanBeReleasedFromOneOfItsOwnTasks) {
    auto queue = std::make_shared<SerialQueue>("test.release");
    std::promise<void> done;
    auto* raw = queue.get();
    raw->async([&queue, &done] {
        queue.reset(); // the last reference goes away on the queue's own thread
        done.set_value();
    });
    EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
}

TEST(GlobalQueues, WorkBlockedOnLaterWorkOfTheSameQueueStillFinishes) {
    // A decode race waits on its two engines, which run on the same queue as the waiter.
    Executor& queue = globalQueue(QoS::UserInitiated);
    std::promise<int> result;
    queue.async([&] {
        std::promise<int> a;
        std::promise<int> b;
        queue.async([&] { a.set_value(1); });
        queue.async([&] { b.set_value(2); });
        result.set_value(a.get_future().get() + b.get_future().get());
    });
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), 3);

    // Delayed work runs unless cancelled.
    std::atomic<bool> cancelledRan{false};
    std::promise<void> fired;
    globalQueue(QoS::Default).after(0.05, [&] { fired.set_value(); });
    globalQueue(QoS::Default).after(0.05, [&] { cancelledRan = true; }).cancel();
    EXPECT_EQ(fired.get_future().wait_for(5s), std::future_status::ready);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(cancelledRan.load());
}

TEST(RunLoopMainQueue, RunsPostedAndTimedWorkOnlyWhileDriven) {
    RunLoopMainQueue loop;
    std::vector<std::string> order;
    const auto mainThread = std::this_thread::get_id();
    loop.after(0.05, [&] { order.push_back("timer"); });
    std::thread poster([&] { loop.post([&] { order.push_back("posted"); }); });
    poster.join();
    EXPECT_TRUE(order.empty()); // nothing runs until the main thread drives the loop
    loop.runFor(0.2);
    ASSERT_EQ(order, (std::vector<std::string>{"posted", "timer"}));

    loop.post([&] {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        loop.stop();
    });
    loop.runUntilStopped();
}

// The replays' clock keeps the serial queue's timing rules: work posted now runs before a tick
// due with it, a slow task delays the next tick (run once, late) and the others it covered are
// skipped, a cancelled timer never fires, and only the declared time (or, when counted, the
// real time) moves the clock.
TEST(VirtualQueue, TimersRunAsOnTheSerialQueueOnlyInVirtualTime) {
    VirtualQueue queue(false);
    std::vector<std::string> ran;
    const auto note = [&](const std::string& what) {
        ran.push_back(what + "@" + std::to_string(queue.now()));
    };
    const TimerHandle tick = queue.repeating(2, [&] {
        note("tick");
        if (ran.size() == 2) queue.elapse(5.5); // the first tick runs until 7.5 s
    });
    const TimerHandle never = queue.after(1, [&] { note("never"); });
    never.cancel();
    queue.after(7, [&] { note("late"); });
    queue.async([&] { note("now"); });
    const auto start = Clock::now();
    EXPECT_EQ(queue.nextStart(), 0.0);
    while (queue.nextStart() && *queue.nextStart() < 12)
        queue.runNext();
    EXPECT_LT(secondsBetween(start, Clock::now()), 0.5);
    EXPECT_EQ(ran, (std::vector<std::string>{"now@0.000000", "tick@2.000000", "tick@7.500000",
                                             "late@7.500000", "tick@8.000000", "tick@10.000000"}));
    tick.cancel();
    EXPECT_FALSE(queue.runNext());

    VirtualQueue counted(true);
    counted.async([] { std::this_thread::sleep_for(50ms); });
    counted.runNext();
    EXPECT_GE(counted.now(), 0.05);
}

} // namespace
} // namespace vak
