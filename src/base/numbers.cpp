#include "base/numbers.h"

#include <cmath>
#include <cstdio>

namespace vak {

std::string fixedDecimals(double value, int digits) {
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%.*f", digits, value);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer) return buffer;
    // Huge values need more room than the buffer has.
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
    std::snprintf(out.data(), out.size(), "%.*f", digits, value);
    out.resize(out.size() - 1);
    return out;
}

// Through the formatter, not an integer cast: a huge or non-finite value has no integer.
std::string wholeNumber(double value) {
    return fixedDecimals(std::trunc(value) + 0.0, 0); // + 0.0: no "-0"
}

} // namespace vak
