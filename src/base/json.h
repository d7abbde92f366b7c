#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vak {

// The string member `key` of a top-level JSON object. Nothing for text that is not valid JSON,
// a top level that is not an object, a missing member or one that is not a string.
std::optional<std::string> jsonStringMember(std::string_view json, std::string_view key);

} // namespace vak
