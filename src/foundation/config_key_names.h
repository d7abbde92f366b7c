#pragma once

#include <string_view>

namespace vak {

// A configuration key as code that writes one names it: only through the constants below, made
// from the key table, so that a misspelt key does not compile (a bare string does not convert).
struct ConfigKeyName {
    std::string_view text;
};

namespace config_key {
#define SETTING(rule, field, key, text, low, high, placement, comment, meaning)                    \
    inline constexpr ConfigKeyName field{key};
#include "foundation/config_keys.def"
#undef SETTING
} // namespace config_key

} // namespace vak
