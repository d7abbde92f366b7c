#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vak {

// Words whose closing period does not end a sentence (lower case).
inline constexpr std::array<std::string_view, 10> SENTENCE_ABBREVIATIONS = {
    "etc", "vs", "mr", "mrs", "dr", "st", "jr", "sr", "inc", "approx"};

// How capitalizeSentences ends the text.
enum class Closing {
    asWritten,
    // Trimmed of spaces and tabs and closed with a "." unless it already ends with ".", "?",
    // "!" or ":" (a final "," or ";" becomes the "."); empty stays empty. For a sentence a
    // writing mode puts on a line of its own.
    period,
};

// Capitalises the first letter of the text, of every line and of every sentence, in one pass over
// user-perceived characters. A sentence ends at "!" or "?" followed by whitespace or the end, and
// at "." likewise unless the period closes an initialism ("e.g.", "U.S.") or one of
// SENTENCE_ABBREVIATIONS. A sentence that begins with a digit is left as it is.
std::string capitalizeSentences(std::string_view text, Closing closing = Closing::asWritten);

} // namespace vak
