#include "platform/linux/uinput_key_synth.h"

#include "base/time_util.h"
#include "platform/key_monitor.h"
#include "platform/linux/evdev_devices.h"
#include "platform/linux/key_translation.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

namespace vak {

namespace {

// How long a compositor takes to add a new keyboard (udev, then libinput) before it reads it.
constexpr double kSettleSeconds = 0.3;
// How long a shortcut waits for the user's modifier keys to come up, and how often it looks.
constexpr double kModifierWaitSeconds = 0.5;
constexpr double kModifierPollSeconds = 0.01;

constexpr std::uint64_t kModifierMasks = SHIFT_MASK | CONTROL_MASK | OPTION_MASK | COMMAND_MASK;

constexpr std::array<unsigned, 6> kKeys = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_LEFTALT,
                                           KEY_V,        KEY_C,         KEY_INSERT};

class LibevdevUinput final : public UinputDevice {
  public:
    explicit LibevdevUinput(libevdev_uinput* device) : device_(device) {}
    ~LibevdevUinput() override { libevdev_uinput_destroy(device_); }
    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        return libevdev_uinput_write_event(device_, type, code, value) == 0;
    }

  private:
    libevdev_uinput* device_;
};

} // namespace

std::unique_ptr<UinputDevice> createUinputKeyboard(std::string* error) {
    libevdev* model = libevdev_new();
    libevdev_set_name(model, VIRTUAL_KEYBOARD_NAME);
    libevdev_enable_event_type(model, EV_KEY);
    for (const unsigned code : kKeys)
        libevdev_enable_event_code(model, EV_KEY, code, nullptr);
    libevdev_uinput* device = nullptr;
    const int result =
        libevdev_uinput_create_from_device(model, LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
    libevdev_free(model); // the kernel device keeps what it needs
    if (result != 0) {
        if (error != nullptr) {
            *error = result == -ENOENT ? "/dev/uinput does not exist (the uinput module is not "
                                         "loaded)"
                     : result == -EACCES || result == -EPERM
                         ? "no permission to write /dev/uinput"
                         : "/dev/uinput refused a virtual keyboard (" +
                               std::string(std::strerror(-result)) + ")";
        }
        return nullptr;
    }
    return std::make_unique<LibevdevUinput>(device);
}

UinputKeySynth::UinputKeySynth(UinputFactory factory, std::function<std::uint64_t()> heldModifiers,
                               std::function<void(double)> sleep)
    : factory_(std::move(factory)), heldModifiers_(std::move(heldModifiers)),
      sleep_(std::move(sleep)) {}

bool UinputKeySynth::ensureDevice() {
    if (!device_) {
        device_ = factory_(&why_);
        createdAt_ = SteadyClock::now();
    }
    return device_ != nullptr;
}

bool UinputKeySynth::available() {
    std::lock_guard lock(mutex_);
    return ensureDevice();
}

bool UinputKeySynth::send(const KeyChord& chord) {
    std::lock_guard lock(mutex_);
    if (!ensureDevice()) return false;
    if (!settled_) {
        const double left = kSettleSeconds - secondsSince(createdAt_);
        if (left > 0) sleep_(left);
        settled_ = true;
    }
    for (double waited = 0; waited < kModifierWaitSeconds && (heldModifiers_() & kModifierMasks);
         waited += kModifierPollSeconds) {
        sleep_(kModifierPollSeconds);
    }
    const std::vector<std::uint16_t> keys = evdevKeysOf(chord);
    // Each change is its own report, as a real keyboard sends it: down in order, up in reverse.
    bool ok = true;
    const auto key = [&](std::uint16_t code, std::int32_t value) {
        ok = device_->write(EV_KEY, code, value) && device_->write(EV_SYN, SYN_REPORT, 0) && ok;
    };
    for (const std::uint16_t code : keys)
        key(code, 1);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        key(*it, 0);
    return ok;
}

} // namespace vak
