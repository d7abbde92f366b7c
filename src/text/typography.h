#pragma once

#include <string>
#include <string_view>

namespace vak {

// Adapts the final text to the application receiving the paste: a curly apostrophe between
// letters and an ellipsis character for "...". Terminals and code editors (an entry of
// the comma-separated list `codeApps`, POLISH_APPS, within the bundle identifier) and any text
// holding a backtick keep straight characters.
std::string smartTypography(std::string_view text, std::string_view bundleId,
                            std::string_view codeApps);

} // namespace vak
