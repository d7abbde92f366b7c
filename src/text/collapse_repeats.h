#pragma once

#include <string>
#include <string_view>

namespace vak {

// Guards against a recogniser stuck in a loop: a word repeated more than 5 times in a row, a
// two-word phrase more than 4 times, or a phrase of three to six words more than 3 times is kept
// once. Copies compare without letter case and surrounding punctuation. Texts of fewer than four
// words come back unchanged; otherwise the words are rejoined with single spaces. Logs one line
// when it collapsed something.
std::string collapseRepeats(std::string_view text);

} // namespace vak
