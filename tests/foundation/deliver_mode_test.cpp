#include "foundation/deliver_mode.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

// Each name leads back to its mode ("ask" is never stored); an example says what the mode does,
// then what you say (quoted) and what you get, "ask" only what it does. What the program wrote
// itself compares exactly, what a person wrote may use any case and "raw"; users' files have
// always said "normal" for the mode that pastes words as spoken.
TEST(DeliverMode, EachNameLeadsBackToItsModeAndEachExampleHasTheExplainersLayout) {
    std::set<int> tags;
    for (const DeliverModeInfo& info : deliverModes()) {
        SCOPED_TRACE(info.label);
        EXPECT_TRUE(tags.insert(tag(info.mode)).second);
        EXPECT_EQ(deliver_mode::fromLabel(info.label), info.mode);
        EXPECT_EQ(deliver_mode::fromName(info.configValue), info.mode);
        const bool stored = info.mode != DeliverMode::ask;
        EXPECT_EQ(deliver_mode::fromConfigValue(info.configValue),
                  stored ? std::optional(info.mode) : std::nullopt);
        const std::string text(info.example);
        const auto get = text.find("\"\n\nYou get: ");
        EXPECT_EQ(stored, text.find("\n\nYou say: \"") < get && get != std::string::npos);
        EXPECT_EQ(text.find("\n\n", stored ? get + 3 : 0), std::string::npos);
    }
    EXPECT_EQ(configValue(DeliverMode::raw), "normal");
    EXPECT_EQ(deliver_mode::fromConfigValue("raw"), std::nullopt);
    EXPECT_EQ(deliver_mode::fromName("RAW"), DeliverMode::raw);
}

} // namespace
} // namespace vak
