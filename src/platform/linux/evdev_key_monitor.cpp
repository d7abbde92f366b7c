#include "platform/linux/evdev_key_monitor.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "base/poll_thread.h"
#include "platform/linux/evdev_decoder.h"
#include "platform/linux/evdev_devices.h"
#include "platform/linux/input_access.h"

#include <cerrno>
#include <mutex>

#include <linux/input.h>
#include <poll.h>
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
    std::atomic<bool> running{false};
    // The devices open now and their decoder: the reading thread's alone.
    std::vector<OpenedInputDevice> devices;
    EvdevDecoder decoder;
    std::unique_ptr<PollThread> poller; // its hooks use everything above

    ~Reader() { poller.reset(); }

    void deliver(const std::vector<InputEvent>& events) {
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

    PollThread::Hooks hooks() {
        return {
            .prepare =
                [this](std::vector<pollfd>& fds, int&) {
                    fds.push_back({source->changes(), POLLIN, 0});
                    for (const OpenedInputDevice& device : devices)
                        fds.push_back({device.fd.get(), POLLIN, 0});
                    return true;
                },
            .dispatch =
                [this](const std::vector<pollfd>& fds) {
                    readDevices(fds);
                    if (fds[0].fd >= 0 && (fds[0].revents & POLLIN)) addDevices();
                    return true;
                },
            .finish = [this] { running.store(false); },
        };
    }

    // Reads every device that has events (fds[1 + i] is devices[i]); drops the ones gone.
    void readDevices(const std::vector<pollfd>& fds) {
        std::vector<OpenedInputDevice> kept;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            OpenedInputDevice& device = devices[i];
            if (!readDevice(device, fds[i + 1].revents)) {
                deliver(decoder.remove(device.fd.get()));
                log(LogLevel::info, "key monitor lost \"" + device.name + "\"");
                continue;
            }
            kept.push_back(std::move(device));
        }
        devices = std::move(kept);
    }

    // Opens the devices that came since the last scan.
    void addDevices() {
        source->drainChanges();
        std::vector<std::string> open;
        for (const OpenedInputDevice& device : devices)
            open.push_back(device.path);
        InputDeviceScan added = source->scan(open);
        logDevices(added.devices);
        for (OpenedInputDevice& device : added.devices)
            devices.push_back(std::move(device));
    }

    // Reads what `device` has; false when it has gone away.
    bool readDevice(OpenedInputDevice& device, short revents) {
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        if (!(revents & POLLIN)) return true;
        char buffer[kRecordsPerRead * sizeof(input_event)];
        const ssize_t n = ::read(device.fd.get(), buffer, sizeof buffer);
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        if (n == 0) return false;
        const int id = device.fd.get();
        deliver(decoder.feed(id, std::string_view(buffer, static_cast<std::size_t>(n))));
        if (decoder.needsResync(id)) deliver(decoder.resync(id, source->heldKeys(id)));
        return true;
    }
};

EvdevKeyMonitor::EvdevKeyMonitor(std::shared_ptr<InputDeviceSource> source)
    : flags_(std::make_shared<std::atomic<std::uint64_t>>(0)), reader_(std::make_unique<Reader>()) {
    reader_->source = std::move(source);
    reader_->flags = flags_;
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
    reader_->poller.reset(); // a reader that ended
    InputDeviceScan scan = reader_->source->scan({});
    reader_->deniedCount = scan.denied.size();
    reader_->foundKeyboard = scan.keyboards() > 0;
    if (!reader_->foundKeyboard) return false;
    Reader::logDevices(scan.devices);
    reader_->devices = std::move(scan.devices);
    reader_->decoder = EvdevDecoder();
    reader_->running.store(true);
    std::string error;
    reader_->poller = PollThread::start(reader_->hooks(), &error);
    if (!reader_->poller) {
        reader_->running.store(false);
        reader_->devices.clear();
        log(LogLevel::warning, "key monitor cannot read: " + error);
        return false;
    }
    return true;
}

} // namespace vak
