#pragma once

#include <string>
#include <string_view>

namespace vak {

// Leading openers ("okay so", "well,"), filler between commas ("like", "you know"), trailing
// hedges ("if that makes sense"), stuttered short words ("the the") and runs of white space.
std::string stripSpokenFiller(std::string_view text);

} // namespace vak
