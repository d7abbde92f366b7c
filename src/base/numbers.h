#pragma once

#include <string>

namespace vak {

// `value` with exactly `digits` digits after the point, as printf's "%.*f" writes it:
// fixedDecimals(2.345, 1) is "2.3".
std::string fixedDecimals(double value, int digits);
// `value` without its fraction, cut toward zero: wholeNumber(2.9) is "2".
std::string wholeNumber(double value);

} // namespace vak
