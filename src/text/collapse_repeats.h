#pragma once

#include <string>
#include <string_view>

namespace vak {

// Which runs of copies collapseRepeats keeps once.
enum class Repeats {
    // A recogniser stuck in a loop: a word repeated more than 5 times in a row, a two-word
    // phrase more than 4 times, or a phrase of three to six words more than 3 times. Copies
    // compare without letter case and surrounding punctuation. Texts of fewer than four words
    // come back unchanged; otherwise the words are rejoined with single spaces. Logs one line
    // when it collapsed something.
    loops,
    // A speaker's stutter: a run of one short word ("the the the plan" → "the plan"), copies
    // compared with the patterns' case folding and separated by white space only; the rest of
    // the text stays as it was. The filler stage's pattern does this too; this is the same
    // without one, for runs too long for the pattern.
    stutters,
};

// Each run of copies of `kind` becomes its first copy, as written.
std::string collapseRepeats(std::string_view text, Repeats kind);

// The short words a speaker stutters ("the the"), in the order the stutter rule tries them.
inline constexpr std::string_view STUTTER_WORDS[] = {"the", "a",  "an",  "to",  "of",  "in",
                                                     "on",  "at", "and", "but", "or",  "we",
                                                     "i",   "it", "is",  "was", "for", "with"};

} // namespace vak
