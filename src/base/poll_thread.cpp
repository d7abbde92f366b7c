#include "base/poll_thread.h"

#include "base/files.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace vak {

std::unique_ptr<PollThread> PollThread::start(Hooks hooks, std::string* error) {
    int fds[2] = {-1, -1};
    if (!makePipe(fds)) {
        if (error != nullptr) *error = std::string("no wake-up pipe: ") + std::strerror(errno);
        return nullptr;
    }
    // Neither end may block: a full pipe already means "wake up", and draining stops when empty.
    for (const int fd : fds)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::unique_ptr<PollThread> poller(new PollThread(std::move(hooks)));
    poller->wakeRead_ = fds[0];
    poller->wakeWrite_ = fds[1];
    poller->thread_ = std::thread([raw = poller.get()] { raw->loop(); });
    return poller;
}

PollThread::~PollThread() {
    stop();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void PollThread::wake() {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &byte, 1);
}

void PollThread::stop() {
    stopping_.store(true);
    wake();
    if (thread_.joinable()) thread_.join();
}

void PollThread::drainWakeUps() {
    char bytes[64];
    while (::read(wakeRead_, bytes, sizeof bytes) > 0) {
    }
}

void PollThread::loop() {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    std::vector<pollfd> fds;
    while (!stopping_.load()) {
        fds.clear();
        int timeoutMs = -1;
        if (!hooks_.prepare(fds, timeoutMs)) break;
        const std::size_t wakeSlot = fds.size();
        fds.push_back(pollfd{wakeRead_, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) break;
        if (stopping_.load()) break;
        if (ready < 0) {
            for (pollfd& fd : fds)
                fd.revents = 0;
        }
        // Drained before the hooks look at their work, so a wake-up given after this point
        // finds the pipe full again and the next wait returns at once: none is lost.
        if (fds[wakeSlot].revents != 0) drainWakeUps();
        fds.pop_back();
        if (!hooks_.dispatch(fds)) break;
    }
    if (hooks_.finish) hooks_.finish();
    running_.store(false);
}

} // namespace vak
