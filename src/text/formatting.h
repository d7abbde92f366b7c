#pragma once

#include <string>
#include <string_view>

namespace vak {

// The formatting pipeline every transcript passes before delivery.
std::string formatTranscript(std::string_view raw);

} // namespace vak
