#include "platform/linux/evdev_key_monitor.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "platform/linux/evdev_decoder.h"
#include "platform/linux/evdev_devices.h"
#include "platform/linux/input_access.h"

#include <cerrno>
#include <mutex>
#include <thread>

#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vak {

namespace {

// Records taken per read; a keyboard sends a handful per key.
constexpr std::size_t kRecordsPerRead = 64;

} // namespace

struct EvdevKeyMonitor::Reader {
    std::shared_ptr<InputDeviceSource> source;
    std::shared_ptr<std::atomic<std::uint64_t>> flags;
    std::mutex mutex; // guards the handler, the last scan's findings and the source outside run()
    std::shared_ptr<const InputEventHandler> handler;
    std::size_t deniedCount = 0;
    bool foundKeyboard = false;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    int wakeFd = -1;

    ~Reader() {
        stopping.store(true);
        if (wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
        }
        if (thread.joinable()) thread.join();
        if (wakeFd >= 0) ::close(wakeFd);
    }

    void deliver(const std::vector<InputEvent>& events, const EvdevDecoder& decoder) {
        flags->store(decoder.flags());
        if (events.empty()) return;
        std::shared_ptr<const InputEventHandler> current;
        {
            std::lock_guard lock(mutex);
            current = handler;
        }
        if (!current) return;
        mainQueue().post([current, events] {
            for (const InputEvent& event : events)
                (*current)(event);
        });
    }

    static void logDevices(const std::vector<OpenedInputDevice>& devices) {
        for (const OpenedInputDevice& device : devices) {
            log(LogLevel::info,
                std::string("key monitor reads ") +
                    (device.kind == InputDeviceKind::Keyboard ? "keyboard" : "pointer") + " \"" +
                    device.name + "\" (" + device.path + ")");
        }
    }

    void run(std::vector<OpenedInputDevice> devices) {
        EvdevDecoder decoder;
        logDevices(devices);
        while (!stopping.load()) {
            std::vector<pollfd> fds = {{wakeFd, POLLIN, 0}, {source->changes(), POLLIN, 0}};
            for (const OpenedInputDevice& device : devices)
                fds.push_back({device.fd.get(), POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto n = ::read(wakeFd, &count, sizeof count);
            }
            std::vector<OpenedInputDevice> kept;
            for (std::size_t i = 0; i < devices.size(); ++i) {
                OpenedInputDevice& device = devices[i];
                if (!readDevice(device, fds[i + 2].revents, decoder)) {
                    deliver(decoder.remove(device.fd.get()), decoder);
                    log(LogLevel::info, "key monitor lost \"" + device.name + "\"");
                    continue;
                }
                kept.push_back(std::move(device));
            }
            devices = std::move(kept);
            if (fds[1].fd >= 0 && (fds[1].revents & POLLIN)) {
                source->drainChanges();
                std::vector<std::string> open;
                for (const OpenedInputDevice& device : devices)
                    open.push_back(device.path);
                InputDeviceScan added = source->scan(open);
                logDevices(added.devices);
                for (OpenedInputDevice& device : added.devices)
                    devices.push_back(std::move(device));
            }
        }
        running.store(false);
    }

    // Reads what `device` has; false when it has gone away.
    bool readDevice(OpenedInputDevice& device, short revents, EvdevDecoder& decoder) {
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        if (!(revents & POLLIN)) return true;
        char buffer[kRecordsPerRead * sizeof(input_event)];
        const ssize_t n = ::read(device.fd.get(), buffer, sizeof buffer);
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        if (n == 0) return false;
        const int id = device.fd.get();
        deliver(decoder.feed(id, std::string_view(buffer, static_cast<std::size_t>(n))), decoder);
        if (decoder.needsResync(id)) deliver(decoder.resync(id, source->heldKeys(id)), decoder);
        return true;
    }
};

EvdevKeyMonitor::EvdevKeyMonitor(std::shared_ptr<InputDeviceSource> source)
    : flags_(std::make_shared<std::atomic<std::uint64_t>>(0)), reader_(std::make_unique<Reader>()) {
    reader_->source = std::move(source);
    reader_->flags = flags_;
    reader_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

EvdevKeyMonitor::~EvdevKeyMonitor() = default;

bool EvdevKeyMonitor::isTrusted(bool /*prompt: there is no prompt for a group*/) {
    if (reader_->running.load()) return true;
    std::lock_guard lock(reader_->mutex);
    const InputDeviceScan scan = reader_->source->scan({});
    reader_->deniedCount = scan.denied.size();
    reader_->foundKeyboard = scan.keyboards() > 0;
    return reader_->foundKeyboard;
}

std::string EvdevKeyMonitor::accessHelp() {
    std::lock_guard lock(reader_->mutex);
    if (reader_->foundKeyboard) return {};
    if (reader_->deniedCount > 0) {
        return "no permission to read the keyboards under /dev/input — " + inputAccessHelp();
    }
    return "no keyboard under /dev/input — the trigger key arms once one appears";
}

bool EvdevKeyMonitor::start(InputEventHandler handler) {
    std::lock_guard lock(reader_->mutex);
    reader_->handler = std::make_shared<const InputEventHandler>(std::move(handler));
    if (reader_->running.load()) return true;
    if (reader_->thread.joinable()) reader_->thread.join();
    if (reader_->wakeFd < 0) return false;
    InputDeviceScan scan = reader_->source->scan({});
    reader_->deniedCount = scan.denied.size();
    reader_->foundKeyboard = scan.keyboards() > 0;
    if (!reader_->foundKeyboard) return false;
    reader_->running.store(true);
    reader_->thread =
        std::thread([reader = reader_.get(), devices = std::move(scan.devices)]() mutable {
            reader->run(std::move(devices));
        });
    return true;
}

} // namespace vak
