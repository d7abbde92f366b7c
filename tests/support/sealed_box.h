#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vak::test {

// Opens one history line (time, tab, Base64 box, line break) with a 32-byte key and returns the
// plaintext; nothing when the line is malformed or fails authentication.
std::optional<std::string> openHistoryLine(std::string_view key, std::string_view line);

} // namespace vak::test
