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
    QtMainQueue queue;
    const QThread* loopThread = QThread::currentThread();
};

TEST_F(QtQueue, PostedWorkRunsOnTheLoopThreadInOrderFromEveryThread) {
    installMainQueue(&queue); // half the posters reach it as the process-wide main queue
    std::vector<std::vector<int>> seen(4); // -1 for a task run off the loop's thread
    std::atomic<int> ran{0};
    std::vector<std::thread> posters;
    for (std::size_t t = 0; t < seen.size(); ++t) {
        posters.emplace_back([&, t] {
            MainQueue& target = t % 2 ? mainQueue() : queue;
            for (int i = 0; i < 300; ++i) {
                target.post([&, t, i] {
                    seen[t].push_back(QThread::currentThread() == loopThread ? i : -1);
                    ++ran;
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();
    EXPECT_EQ(ran.load(), 0); // nothing runs until the loop does
    ASSERT_TRUE(waitUntil([&] { return ran.load() == 1200; }, 5));
    installMainQueue(nullptr);
    for (const auto& order : seen)
        EXPECT_TRUE(order.front() == 0 && std::is_sorted(order.begin(), order.end()));
}

// Timers run in deadline order, counted from the call even when another thread makes it while
// the loop is busy; a cancelled one never runs, nor what a destroyed queue still held.
TEST_F(QtQueue, TimersRunAtTheirDeadlinesUnlessCancelled) {
    const auto start = SteadyClock::now();
    std::vector<std::string> order;
    std::map<std::string, double> at;
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
    queue.after(0.05, note("cancelled")).cancel();
    {
        QtMainQueue doomed;
        doomed.post(note("dropped"));
        doomed.after(0.01, note("dropped"));
    }
    TimerHandle started = queue.after(0.12, note("cancelled once started"));
    test::settle(0.03);
    started.cancel();
    std::thread([&] { queue.after(0.2, note("from a thread")); }).join();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(waitUntil([&] { return order.size() >= 5; }, 5));
    test::settle(0.1);
    EXPECT_EQ(order,
              (std::vector<std::string>{"now", "negative", "early", "from a thread", "late"}));
    EXPECT_GE(at["from a thread"], 0.2);
    EXPECT_LT(at["from a thread"], 0.35); // not 0.2 s after the loop got to it
    EXPECT_GE(at["late"], 0.30);
    EXPECT_LT(at["late"], 0.30 + 0.25);
}

} // namespace
} // namespace vak
