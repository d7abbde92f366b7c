#pragma once

#include "base/files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct libevdev;

namespace vak {

// What a device under /dev/input can tell the key monitor.
enum class InputDeviceKind {
    Keyboard, // has modifier keys or letters: the trigger key, Escape, other keys
    Pointer,  // has mouse buttons or a wheel: clicks and scrolls veto a tap
    Other,    // power buttons, lid switches, joysticks, our own virtual keyboard
};

// The kind of an evdev device from its capabilities. Our own virtual keyboard (named
// `ownKeyboardName`) is never read back: its shortcut keys are not the user's.
InputDeviceKind classifyInputDevice(const libevdev* device);

// The name of the program's own virtual keyboard on /dev/uinput.
inline constexpr const char* VIRTUAL_KEYBOARD_NAME = "vak-dictate virtual keyboard";

// One input device opened for reading.
struct OpenedInputDevice {
    std::string path;
    std::string name;
    InputDeviceKind kind = InputDeviceKind::Other;
    UniqueFd fd; // non-blocking
};

// What one look at the devices found.
struct InputDeviceScan {
    std::vector<OpenedInputDevice> devices; // keyboards and pointers that could be opened
    std::vector<std::string> denied;        // device nodes we may not read
    std::size_t keyboards() const;
};

// Where the key monitor's devices come from: the event nodes under /dev/input in the program;
// pipes standing in for them in tests. Called from the monitor's thread.
class InputDeviceSource {
  public:
    virtual ~InputDeviceSource() = default;
    // The devices there now, opened, but none of `skip` (paths already open).
    virtual InputDeviceScan scan(const std::vector<std::string>& skip) = 0;
    // A descriptor that turns readable when devices may have come or changed their permissions,
    // -1 when there is none; drainChanges() empties it.
    virtual int changes() = 0;
    virtual void drainChanges() = 0;
    // The keys (kernel key codes) the device behind `fd` holds now.
    virtual std::vector<std::uint16_t> heldKeys(int fd) = 0;
};

// The event nodes under `directory` (normally /dev/input), watched with inotify for keyboards
// plugged in later and for the permission changes udev makes just after a node appears.
std::unique_ptr<InputDeviceSource> makeDevInputSource(std::string directory = "/dev/input");

} // namespace vak
