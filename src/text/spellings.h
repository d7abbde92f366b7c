#pragma once

#include <array>
#include <string_view>

namespace vak {

// One fixed correction: every match of `pattern` is replaced by `replacement`, used as a raw
// template.
struct SpellingRule {
    std::string_view pattern;
    std::string_view replacement;
};

// Product, project and company names that speech engines misspell or mis-case, applied in order
// before sentence casing. Every pattern is a case-insensitive whole-word pattern; names of two
// words allow the inner space to be missing.
extern const std::array<SpellingRule, 34> BRAND_SPELLINGS;

// Platform and tool names whose lower-case first letter sentence casing would break; applied in
// order after it.
extern const std::array<SpellingRule, 6> PLATFORM_SPELLINGS;

} // namespace vak
