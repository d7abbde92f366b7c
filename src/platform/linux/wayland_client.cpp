#include "platform/linux/wayland_client.h"

#include "base/poll_thread.h"
#include "base/time_util.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

namespace vak {

struct WaylandClient::RegistryData {
    std::map<std::string, std::uint32_t>* versions;
    std::map<std::string, std::uint32_t>* names;
};

namespace {

constexpr std::uint32_t kSeatVersion = 5;

struct Writer {
    int fd = -1;
    std::shared_ptr<const std::string> bytes;
    std::size_t written = 0;
    SteadyClock::time_point deadline;
};

// A task's state, shared by its caller and the loop; guarded by the loop's mutex.
struct Completion {
    bool done = false;
};

int millisecondsUntil(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
}

} // namespace

struct WaylandClient::Loop {
    wl_display* display = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> tasks;
    std::vector<Writer> writers; // added under the mutex, owned by the thread once taken
    std::vector<Writer> incoming;
    std::atomic<bool> broken{false};
    bool reading = false; // a read of the display prepared and not yet done or cancelled
    std::unique_ptr<PollThread> poller;

    void wake() { poller->wake(); }

    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        wake();
    }

    void finish(const std::shared_ptr<Completion>& completion) {
        {
            std::lock_guard lock(mutex);
            completion->done = true;
        }
        changed.notify_all();
    }

    bool wait(const std::shared_ptr<Completion>& completion, double seconds) {
        std::unique_lock lock(mutex);
        return changed.wait_until(lock, deadlineAfter(seconds), [&] {
            return completion->done || broken.load();
        }) && completion->done;
    }

    void runTasks() {
        std::deque<std::function<void()>> now;
        {
            std::lock_guard lock(mutex);
            now.swap(tasks);
            for (Writer& writer : incoming)
                writers.push_back(std::move(writer));
            incoming.clear();
        }
        for (auto& task : now)
            task();
    }

    void serveWriters(const std::vector<pollfd>& fds, std::size_t first) {
        const auto now = SteadyClock::now();
        for (std::size_t i = 0; i < writers.size(); ++i) {
            Writer& writer = writers[i];
            const short events = fds[first + i].revents;
            if (events & (POLLERR | POLLHUP | POLLNVAL)) {
                writer.deadline = now; // the reader went away
            } else if (events & POLLOUT) {
                const std::string& bytes = *writer.bytes;
                const ssize_t n = ::write(writer.fd, bytes.data() + writer.written,
                                          bytes.size() - writer.written);
                if (n > 0) writer.written += static_cast<std::size_t>(n);
                if (n < 0 && errno != EAGAIN && errno != EINTR) writer.deadline = now;
            }
        }
        std::erase_if(writers, [now](Writer& writer) {
            if (writer.written < writer.bytes->size() && writer.deadline > now) return false;
            ::close(writer.fd);
            return true;
        });
    }

    // Runs the tasks handed over, sends what is queued and prepares to read the display.
    bool prepare(std::vector<pollfd>& fds, int& timeoutMs) {
        runTasks();
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        reading = true;
        short displayEvents = POLLIN;
        if (wl_display_flush(display) < 0 && errno == EAGAIN) displayEvents |= POLLOUT;
        fds.push_back({wl_display_get_fd(display), displayEvents, 0});
        for (const Writer& writer : writers) {
            fds.push_back({writer.fd, POLLOUT, 0});
            const int left = millisecondsUntil(writer.deadline);
            timeoutMs = timeoutMs < 0 ? left : std::min(timeoutMs, left);
        }
        return true;
    }

    // Reads and dispatches the display's events and feeds the readers of our clipboard data.
    bool dispatch(const std::vector<pollfd>& fds) {
        reading = false;
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(display) < 0) return false;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) return false;
        if (fds[0].revents & (POLLERR | POLLHUP)) return false;
        serveWriters(fds, 1);
        return true;
    }

    // The connection is done with: every writer closed, every waiting caller told.
    void finish() {
        if (reading) wl_display_cancel_read(display);
        reading = false;
        for (Writer& writer : writers)
            ::close(writer.fd);
        writers.clear();
        {
            std::lock_guard lock(mutex);
            broken.store(true);
            for (Writer& writer : incoming)
                ::close(writer.fd);
            incoming.clear();
        }
        changed.notify_all();
    }

    PollThread::Hooks hooks() {
        return {
            .prepare = [this](std::vector<pollfd>& fds,
                              int& timeoutMs) { return prepare(fds, timeoutMs); },
            .dispatch = [this](const std::vector<pollfd>& fds) { return dispatch(fds); },
            .finish = [this] { finish(); },
        };
    }
};

namespace {

void onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto* registry = static_cast<WaylandClient::RegistryData*>(data);
    if (registry->versions == nullptr) return;
    // The first of each kind is the one used (one seat, one manager).
    registry->versions->emplace(interface, version);
    registry->names->emplace(interface, name);
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onSeatCapabilities(void*, wl_seat*, std::uint32_t) {}
void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {onSeatCapabilities, onSeatName};

void onSyncDone(void* data, wl_callback* callback, std::uint32_t) {
    auto* done = static_cast<std::function<void()>*>(data);
    (*done)();
    delete done;
    wl_callback_destroy(callback);
}
const wl_callback_listener kSyncListener = {onSyncDone};

} // namespace

std::shared_ptr<WaylandClient> WaylandClient::connect(std::string* error) {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        if (error != nullptr) *error = "no Wayland compositor answers ($WAYLAND_DISPLAY)";
        return nullptr;
    }
    std::shared_ptr<WaylandClient> client(new WaylandClient());
    client->display_ = display;
    client->registryData_ = std::make_unique<RegistryData>(
        RegistryData{&client->globalVersions_, &client->globalNames_});
    client->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(client->registry_, &kRegistryListener, client->registryData_.get());
    const bool answered = wl_display_roundtrip(display) >= 0;
    *client->registryData_ = RegistryData{nullptr, nullptr};
    if (!answered) {
        if (error != nullptr) *error = "the Wayland compositor did not answer";
        return nullptr;
    }
    if (const auto seat = client->globalNames_.find(wl_seat_interface.name);
        seat != client->globalNames_.end()) {
        client->seat_ = reinterpret_cast<wl_seat*>(client->bindByName(
            wl_seat_interface, seat->second,
            std::min(kSeatVersion, client->globalVersions_[wl_seat_interface.name])));
        wl_seat_add_listener(client->seat_, &kSeatListener, nullptr);
    }
    client->loop_ = std::make_unique<Loop>();
    client->loop_->display = display;
    client->loop_->poller = PollThread::start(client->loop_->hooks(), error);
    if (!client->loop_->poller) return nullptr;
    return client;
}

WaylandClient::~WaylandClient() {
    if (loop_) {
        loop_->poller.reset();
    }
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    if (display_ != nullptr) wl_display_disconnect(display_);
}

bool WaylandClient::healthy() const {
    return loop_ && !loop_->broken.load();
}

bool WaylandClient::run(std::function<void()> task, double timeoutSeconds) {
    if (!healthy()) return false;
    auto completion = std::make_shared<Completion>();
    loop_->post([loop = loop_.get(), task = std::move(task), completion] {
        task();
        wl_display_flush(loop->display);
        loop->finish(completion);
    });
    return loop_->wait(completion, timeoutSeconds);
}

bool WaylandClient::runAndSync(std::function<void()> task, double timeoutSeconds) {
    if (!healthy()) return false;
    auto completion = std::make_shared<Completion>();
    loop_->post([loop = loop_.get(), task = std::move(task), completion] {
        task();
        wl_callback* callback = wl_display_sync(loop->display);
        auto* done = new std::function<void()>([loop, completion] { loop->finish(completion); });
        wl_callback_add_listener(callback, &kSyncListener, done);
        wl_display_flush(loop->display);
    });
    return loop_->wait(completion, timeoutSeconds);
}

wl_proxy* WaylandClient::bindByName(const wl_interface& interface, std::uint32_t name,
                                    std::uint32_t version) {
    return static_cast<wl_proxy*>(wl_registry_bind(registry_, name, &interface, version));
}

wl_proxy* WaylandClient::bind(const wl_interface& interface, std::uint32_t version) {
    const auto name = globalNames_.find(interface.name);
    if (name == globalNames_.end()) return nullptr;
    return bindByName(interface, name->second,
                      std::min(version, globalVersions_.at(interface.name)));
}

void WaylandClient::serve(int fd, std::shared_ptr<const std::string> bytes, double timeoutSeconds) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (!healthy()) {
        ::close(fd);
        return;
    }
    {
        std::lock_guard lock(loop_->mutex);
        loop_->incoming.push_back(Writer{fd, std::move(bytes), 0, deadlineAfter(timeoutSeconds)});
    }
    loop_->wake();
}

} // namespace vak
