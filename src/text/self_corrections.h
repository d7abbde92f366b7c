#pragma once

#include <string>
#include <string_view>

namespace vak {

// "meet on Tuesday no wait Wednesday" → "meet on Wednesday": a correction of one to three words
// replaces as many words before the cue; a longer one replaces the clause after the last comma
// (or everything before the cue when there is no comma). Repeats until no cue is left.
std::string resolveSelfCorrections(std::string_view text);

} // namespace vak
