#pragma once

#include <string>
#include <string_view>

namespace vak {

// The udev rule the project ships: read access to the input devices and write access to
// /dev/uinput for the user at the seat (the "uaccess" tag), with the uinput module loaded.
inline constexpr std::string_view INPUT_UDEV_RULE = "packaging/udev/70-vak-dictate.rules";

// What the user does, once, so that the program may read the keyboards under /dev/input (the
// trigger key) and write to /dev/uinput (the synthetic paste): join the input group, or install
// the udev rule (the README gives its three commands). The same words go to the log and the pill.
inline std::string inputAccessHelp() {
    return "join the input group (sudo usermod -aG input $USER, then log in again) or install "
           "the udev rule " +
           std::string(INPUT_UDEV_RULE) + " (README ▸ Using it on a desktop)";
}

} // namespace vak
