#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vak {

// Day and month names that are capitalised wherever they appear. March and May are left out:
// both are ordinary words too.
inline constexpr std::array<std::string_view, 17> CALENDAR_WORDS = {
    "monday", "tuesday",   "wednesday", "thursday", "friday",  "saturday",
    "sunday", "january",   "february",  "april",    "june",    "july",
    "august", "september", "october",   "november", "december"};

// "dont" → "don't", "im" → "I'm" and the like. A capitalised spoken form comes out in lower case
// (except the pronoun I); capitalizeSentences restores a sentence's first capital.
std::string fixContractions(std::string_view text);

// Every CALENDAR_WORDS word, in any case, as a whole word → "Monday".
std::string capitalizeCalendar(std::string_view text);

} // namespace vak
