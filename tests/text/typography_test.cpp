#include "text/typography.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(SmartTypography, CurlsApostrophesAndEllipsesOutsideCodeTools) {
    struct Case {
        const char *text, *app, *codeApps, *expected;
    };
    const char* codeApps = "terminal,iterm,claude,code,cursor,warp";
    const Case cases[] = {
        {"don't stop...", "com.apple.mail", codeApps, "don\u2019t stop\u2026"},
        {"don't stop...", "com.apple.Terminal", codeApps, "don't stop..."},
        {"don't stop...", "com.microsoft.VSCode", codeApps, "don't stop..."},
        {"run `ls` don't...", "com.apple.mail", codeApps, "run `ls` don't..."},
        // Only apostrophes between two ASCII letters curl; quotes around words stay straight.
        {"'quoted' rock'n'roll 90's....", "", codeApps,
         "'quoted' rock\u2019n\u2019roll 90's\u2026."},
        // List entries are trimmed and match in any case; empty ones match nothing.
        {"it's", "com.apple.Terminal", " Terminal , Warp", "it's"},
        {"it's", "dev.warp.Warp-Stable", " Terminal , Warp", "it's"},
        {"it's", "com.apple.mail", ",, ,", "it\u2019s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(smartTypography(c.text, c.app, c.codeApps), c.expected)
            << c.app << ": " << c.text;
}

} // namespace
} // namespace vak
