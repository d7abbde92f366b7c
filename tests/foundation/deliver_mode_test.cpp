#include "foundation/deliver_mode.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(DeliverMode, EachNameLeadsBackToItsModeAndEachExampleHasTheExplainersLayout) {
    std::set<int> tags;
    for (const DeliverModeInfo& info : deliverModes()) {
        SCOPED_TRACE(info.label);
        EXPECT_TRUE(tags.insert(tag(info.mode)).second);
        EXPECT_EQ(deliver_mode::fromLabel(info.label), info.mode);
        EXPECT_EQ(deliver_mode::fromName(info.configValue), info.mode);
        // The mode memory never stores "ask".
        const bool stored = info.mode != DeliverMode::ask;
        EXPECT_EQ(deliver_mode::fromConfigValue(info.configValue),
                  stored ? std::optional(info.mode) : std::nullopt);
        // What it does, what you say (quoted), what you get; "ask" says only what it does.
        const std::string text(info.example);
        const auto say = text.find("\n\nYou say: \"");
        const auto get = text.find("\"\n\nYou get: ");
        EXPECT_EQ(say != std::string::npos, stored);
        EXPECT_EQ(get != std::string::npos, stored);
        if (stored) {
            EXPECT_LT(say, get);
        }
        EXPECT_EQ(text.find("\n\n", stored ? get + 3 : 0), std::string::npos);
    }
    // Users' files have always said "normal" for the mode that pastes words as spoken.
    EXPECT_EQ(configValue(DeliverMode::raw), "normal");
    EXPECT_EQ(deliver_mode::fromLabel("Raw"), std::nullopt);
    EXPECT_EQ(deliver_mode::fromLabel("Ask me after I stop"), std::nullopt);
    // What the program wrote itself compares exactly; what a person wrote may use any case and
    // "raw".
    for (const char* other : {"raw", "Summarize", "", "normal ", "polish", "ask"})
        EXPECT_EQ(deliver_mode::fromConfigValue(other), std::nullopt) << other;
    EXPECT_EQ(deliver_mode::fromName("RAW"), DeliverMode::raw);
    EXPECT_EQ(deliver_mode::fromName("Summarize"), DeliverMode::summarize);
    EXPECT_EQ(deliver_mode::fromName("polish"), std::nullopt);
}

// Each list holds every mode with a place in it, in the order of those places.
TEST(DeliverMode, ThePillAndTheSettingsWindowOfferTheirModesInTheirOrder) {
    using Position = int DeliverModeInfo::*;
    const std::pair<std::vector<DeliverMode>, Position> lists[] = {
        {deliver_mode::pickable(), &DeliverModeInfo::pillPosition},
        {deliver_mode::settingsModes(), &DeliverModeInfo::settingsPosition}};
    for (const auto& [modes, position] : lists) {
        int last = 0;
        for (const DeliverMode mode : modes) {
            EXPECT_GT(modeInfo(mode).*position, last) << label(mode);
            last = modeInfo(mode).*position;
        }
        const auto placed = std::count_if(
            deliverModes().begin(), deliverModes().end(),
            [field = position](const DeliverModeInfo& info) { return info.*field > 0; });
        EXPECT_EQ(static_cast<std::ptrdiff_t>(modes.size()), placed);
    }
}

} // namespace
} // namespace vak
