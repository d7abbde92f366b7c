#include "text/typography.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

constexpr std::string_view kCodeApps = "terminal,iterm,claude,code,cursor,warp";

TEST(SmartTypography, CurlsApostrophesAndEllipsesOutsideCodeTools) {
    EXPECT_EQ(smartTypography("don't stop...", "com.apple.mail", kCodeApps),
              "don\u2019t stop\u2026");
    EXPECT_EQ(smartTypography("don't stop...", "com.apple.Terminal", kCodeApps), "don't stop...");
    EXPECT_EQ(smartTypography("don't stop...", "com.microsoft.VSCode", kCodeApps), "don't stop...");
    EXPECT_EQ(smartTypography("run `ls` don't...", "com.apple.mail", kCodeApps),
              "run `ls` don't...");
    // Only apostrophes between two ASCII letters curl; quotes around words stay straight.
    EXPECT_EQ(smartTypography("'quoted' rock'n'roll 90's....", "", kCodeApps),
              "'quoted' rock\u2019n\u2019roll 90's\u2026.");
    // The defaults of the configuration apply without an explicit list.
    EXPECT_EQ(smartTypography("it's", "com.googlecode.iterm2"), "it's");
    EXPECT_EQ(smartTypography("it's", "com.apple.mail"), "it\u2019s");
}

TEST(SmartTypography, ApplicationListEntriesAreTrimmedAndMatchInAnyCase) {
    EXPECT_EQ(smartTypography("it's", "com.apple.Terminal", " Terminal , Warp"), "it's");
    EXPECT_EQ(smartTypography("it's", "dev.warp.Warp-Stable", " Terminal , Warp"), "it's");
    EXPECT_EQ(smartTypography("it's", "com.apple.mail", ",, ,"), "it\u2019s");
}

} // namespace
} // namespace vak
