#include "platform/linux/evdev_devices.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace vak {

namespace {

struct EvdevDeleter {
    void operator()(libevdev* device) const { libevdev_free(device); }
};
using EvdevHandle = std::unique_ptr<libevdev, EvdevDeleter>;

EvdevHandle evdevFor(int fd) {
    libevdev* device = nullptr;
    if (libevdev_new_from_fd(fd, &device) != 0) return nullptr;
    return EvdevHandle(device);
}

// The event nodes of `directory`, in the kernel's order (event2 before event10).
std::vector<std::string> eventNodes(const std::string& directory) {
    std::vector<std::pair<long, std::string>> nodes;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.rfind("event", 0) != 0) continue;
            nodes.emplace_back(std::strtol(entry->d_name + 5, nullptr, 10),
                               directory + "/" + std::string(name));
        }
        ::closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::string> paths;
    for (auto& node : nodes)
        paths.push_back(std::move(node.second));
    return paths;
}

class DevInputSource final : public InputDeviceSource {
  public:
    explicit DevInputSource(std::string directory) : directory_(std::move(directory)) {
        inotify_ = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (inotify_.get() >= 0 &&
            ::inotify_add_watch(inotify_.get(), directory_.c_str(), IN_CREATE | IN_ATTRIB) < 0) {
            inotify_ = UniqueFd();
        }
    }

    InputDeviceScan scan(const std::vector<std::string>& skip) override {
        InputDeviceScan result;
        for (const std::string& path : eventNodes(directory_)) {
            if (std::find(skip.begin(), skip.end(), path) != skip.end()) continue;
            UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            if (fd.get() < 0) {
                if (errno == EACCES || errno == EPERM) result.denied.push_back(path);
                continue;
            }
            const EvdevHandle device = evdevFor(fd.get());
            if (!device) continue;
            const InputDeviceKind kind = classifyInputDevice(device.get());
            if (kind == InputDeviceKind::Other) continue;
            const char* name = libevdev_get_name(device.get());
            result.devices.push_back(
                OpenedInputDevice{path, name != nullptr ? name : "", kind, std::move(fd)});
        }
        return result;
    }

    int changes() override { return inotify_.get(); }

    void drainChanges() override {
        alignas(inotify_event) char buffer[4096];
        while (::read(inotify_.get(), buffer, sizeof buffer) > 0) {
        }
    }

    std::vector<std::uint16_t> heldKeys(int fd) override {
        std::vector<std::uint16_t> held;
        const EvdevHandle device = evdevFor(fd);
        if (!device) return held;
        for (unsigned code = 0; code <= KEY_MAX; ++code) {
            if (libevdev_get_event_value(device.get(), EV_KEY, code) == 1)
                held.push_back(static_cast<std::uint16_t>(code));
        }
        return held;
    }

  private:
    std::string directory_;
    UniqueFd inotify_;
};

} // namespace

std::size_t InputDeviceScan::keyboards() const {
    return static_cast<std::size_t>(
        std::count_if(devices.begin(), devices.end(), [](const OpenedInputDevice& d) {
            return d.kind == InputDeviceKind::Keyboard;
        }));
}

InputDeviceKind classifyInputDevice(const libevdev* device) {
    const libevdev* evdev = device;
    const char* name = libevdev_get_name(evdev);
    if (name != nullptr && std::strcmp(name, VIRTUAL_KEYBOARD_NAME) == 0)
        return InputDeviceKind::Other;
    constexpr std::array<unsigned, 9> kKeyboardKeys = {
        KEY_A,       KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT,
        KEY_LEFTALT, KEY_RIGHTALT, KEY_LEFTMETA,  KEY_RIGHTMETA};
    for (const unsigned code : kKeyboardKeys) {
        if (libevdev_has_event_code(evdev, EV_KEY, code)) return InputDeviceKind::Keyboard;
    }
    if (libevdev_has_event_code(evdev, EV_KEY, BTN_LEFT) ||
        libevdev_has_event_code(evdev, EV_REL, REL_WHEEL)) {
        return InputDeviceKind::Pointer;
    }
    return InputDeviceKind::Other;
}

std::unique_ptr<InputDeviceSource> makeDevInputSource(std::string directory) {
    return std::make_unique<DevInputSource>(std::move(directory));
}

} // namespace vak
