#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

namespace vak {

// A thread that waits on descriptors its owner names, plus a wake-up pipe any thread may write
// to, and stops cleanly: stop() (or the destructor) wakes it and waits for it. The hooks run on
// the thread alone, so what they share with nobody else needs no lock. Writes from the thread
// to a pipe or socket whose reader has gone fail with EPIPE instead of ending the process.
class PollThread {
  public:
    struct Hooks {
        // Before each wait: the descriptors to wait on (poll skips negative ones) and how long,
        // in milliseconds (-1: until one is ready or the thread is woken). False ends the thread.
        std::function<bool(std::vector<pollfd>& fds, int& timeoutMs)> prepare;
        // After each wait, with each descriptor's revents (none set after a time-out, an
        // interruption or a wake-up alone). False ends the thread.
        std::function<bool(const std::vector<pollfd>& fds)> dispatch;
        // Once, last, however the thread ends (a stop, a false, a failed wait). May be empty.
        std::function<void()> finish;
    };

    // Nothing (with the reason in `error`) when the wake-up pipe cannot be made.
    static std::unique_ptr<PollThread> start(Hooks hooks, std::string* error = nullptr);
    ~PollThread(); // stop()
    PollThread(const PollThread&) = delete;
    PollThread& operator=(const PollThread&) = delete;

    // Sends the thread round once more, so `prepare` runs again soon; a wake-up given while it
    // is busy is kept for its next wait. Any thread; never blocks.
    void wake();
    // Ends the thread after the hook under way, if any, and waits for it to end. Not from the
    // thread itself.
    void stop();
    // False once the thread has ended, by a stop or by its hooks.
    bool running() const { return running_.load(); }

  private:
    explicit PollThread(Hooks hooks) : hooks_(std::move(hooks)) {}
    void loop();
    void drainWakeUps();

    Hooks hooks_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{true};
    std::thread thread_;
};

} // namespace vak
