#include "support/wait.h"
#include "ui/qt_main_queue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::settle;
using test::waitUntil;

// One application object for the whole program, as in the daemon; waits run its loop.
struct QtQueue : ::testing::Test {
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "vak_ui_tests";
        static char* argv[] = {name, nullptr};
        static auto* app = new QCoreApplication(argc, argv);
        test::eventPump() = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); };
        (void)app;
    }
};

TEST_F(QtQueue, PostedWorkRunsOnTheLoopThreadInOrderFromEveryThread) {
    QtMainQueue queue;
    installMainQueue(&queue); // half the posters reach it as the process-wide main queue
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> offThread{0};
    std::atomic<int> ran{0};
    const auto loopThread = QThread::currentThread();
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            MainQueue& target = t % 2 ? mainQueue() : queue;
            for (int i = 0; i < kEach; ++i) {
                target.post([&, t, i] {
                    if (QThread::currentThread() != loopThread) ++offThread;
                    seen[static_cast<std::size_t>(t)].push_back(i);
                    ++ran;
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();
    EXPECT_EQ(ran.load(), 0); // nothing runs until the loop does
    ASSERT_TRUE(waitUntil([&] { return ran.load() == kThreads * kEach; }, 5));
    installMainQueue(nullptr);
    EXPECT_EQ(offThread.load(), 0);
    for (const auto& order : seen) {
        ASSERT_EQ(order.size(), static_cast<std::size_t>(kEach));
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
}

TEST_F(QtQueue, TimedWorkRunsAtItsDeadlineInDeadlineOrder) {
    QtMainQueue queue;
    std::vector<std::string> order;
    std::map<std::string, double> at;
    const auto start = SteadyClock::now();
    auto note = [&](std::string name) {
        return [&, name] {
            order.push_back(name);
            at[name] = secondsSince(start);
        };
    };
    queue.after(0.30, note("late"));
    queue.after(0.10, note("early"));
    queue.post(note("now"));
    queue.after(-1, note("negative"));
    queue.post([] { throw std::runtime_error("boom"); }); // does not stop the loop
    ASSERT_TRUE(waitUntil([&] { return order.size() == 4; }, 5));
    EXPECT_EQ(order, (std::vector<std::string>{"now", "negative", "early", "late"}));
    EXPECT_GE(at["early"], 0.10);
    EXPECT_GE(at["late"], 0.30);
    EXPECT_LT(at["late"], 0.30 + 0.25);
}

TEST_F(QtQueue, CancelledOrDroppedWorkNeverRuns) {
    QtMainQueue queue;
    bool ran = false;
    bool other = false;
    TimerHandle handle = queue.after(0.05, [&] { ran = true; });
    queue.after(0.1, [&] { other = true; });
    handle.cancel();
    ASSERT_TRUE(waitUntil([&] { return other; }, 5));
    EXPECT_FALSE(ran);
    // Cancelling after the timer was started on the loop works too.
    TimerHandle started = queue.after(0.1, [&] { ran = true; });
    settle(0.03);
    started.cancel();
    settle(0.15);
    EXPECT_FALSE(ran);
    // Destroying a queue drops its pending work.
    {
        QtMainQueue doomed;
        doomed.post([&] { ran = true; });
        doomed.after(0.01, [&] { ran = true; });
    }
    settle(0.1);
    EXPECT_FALSE(ran);
}

TEST_F(QtQueue, TimersFromOtherThreadsCountFromTheCall) {
    QtMainQueue queue;
    std::atomic<bool> ran{false};
    std::atomic<bool> onLoop{false};
    const auto loopThread = QThread::currentThread();
    const auto start = SteadyClock::now();
    std::thread([&] {
        queue.after(0.2, [&] {
            onLoop = QThread::currentThread() == loopThread;
            ran = true;
        });
    }).join();
    // The loop is busy for most of the delay; the timer still fires at 0.2 s, not 0.2 s after
    // the loop got to it.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(waitUntil([&] { return ran.load(); }, 5));
    EXPECT_TRUE(onLoop.load());
    EXPECT_GE(secondsSince(start), 0.2);
    EXPECT_LT(secondsSince(start), 0.35);
}

} // namespace
} // namespace vak
