#include "base/numbers.h"

#include <limits>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(Numbers, FixedAndWholeFormsOfAnyDouble) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* oneDecimal;
        const char* whole;
    } rows[] = {
        {2.345, "2.3", "2"},       {2.96, "3.0", "2"},   {-0.4, "-0.4", "0"},
        {1e300, nullptr, nullptr}, {kInf, "inf", "inf"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        if (row.oneDecimal == nullptr) {
            // Longer than any fixed buffer: whole, not cut off.
            EXPECT_EQ(fixedDecimals(row.value, 1).size(), 303u);
            EXPECT_EQ(wholeNumber(row.value).size(), 301u);
            continue;
        }
        EXPECT_EQ(fixedDecimals(row.value, 1), row.oneDecimal);
        EXPECT_EQ(wholeNumber(row.value), row.whole);
    }
}

} // namespace
} // namespace vak
