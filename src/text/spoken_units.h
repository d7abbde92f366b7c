#pragma once

#include <string>
#include <string_view>

namespace vak {

// Money (formatSpokenMoney), then "12.5 percent" → "12.5%", then "3pm" → "3 PM".
std::string formatSpokenUnits(std::string_view text);

// "1500 dollars" → "$1,500", grouped the way the user's locale groups digits (LC_ALL, else
// LC_NUMERIC, else LANG; en_US when none names one). An amount that is the tail of a larger
// written number ("1,500 dollars", "2.5 dollars") is left as it is.
std::string formatSpokenMoney(std::string_view text);
// The ICU locale name formatSpokenMoney uses, from the environment.
std::string numberLocaleName();

} // namespace vak
