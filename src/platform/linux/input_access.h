#pragma once

#include <string>
#include <string_view>

namespace vak {

// The udev rule the project ships: read access to the input devices and write access to
// /dev/uinput for the user at the seat (the "uaccess" tag), with the uinput module loaded. It is
// in packaging/udev/ of the source and installed, switched off, among the program's data: the
// user turns it on by copying it to /etc/udev/rules.d.
inline constexpr std::string_view INPUT_UDEV_RULE_NAME = "70-vak-dictate.rules";

// Where the user finds the rule: the installed copy when there is one, else the source's.
std::string inputUdevRule();

// What the user does, once, so that the program may read the keyboards under /dev/input (the
// trigger key) and write to /dev/uinput (the synthetic paste): join the input group, or install
// the udev rule (the README gives its three commands). The same words go to the log and the pill.
std::string inputAccessHelp();

} // namespace vak
