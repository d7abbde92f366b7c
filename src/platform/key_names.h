#pragma once

#include <cstdint>
#include <string>

namespace vak {

// The trigger key's name as this system's keyboards label it: on Linux "Right Command" is
// "Right Super" and "Left Option" is "Left Alt" (the codes keep their meaning).
std::string triggerKeyName(std::uint16_t code);
// The form hints and log lines use: "Right ⌘" on macOS, the name itself elsewhere.
std::string triggerKeyShortName(std::uint16_t code);
// The chord that starts command mode with that trigger: "Option+Right ⌘", "Alt+Right Super".
std::string commandChordName(std::uint16_t code);

} // namespace vak
