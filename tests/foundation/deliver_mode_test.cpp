#include "foundation/deliver_mode.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(DeliverMode, TagsConfigValuesAndLabelsLeadBackToTheirMode) {
    struct Expected {
        DeliverMode mode;
        int tag;
        const char* configValue;
        const char* label;
    };
    const Expected table[] = {
        {DeliverMode::ask, 0, "ask", "Ask"},
        {DeliverMode::summarize, 1, "summarize", "Summarize"},
        {DeliverMode::raw, 2, "normal", "Normal"},
        {DeliverMode::professional, 3, "professional", "Professional"},
        {DeliverMode::agent, 4, "agent", "AI Agent"},
        {DeliverMode::expand, 5, "expand", "AI Extend"},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.label);
        EXPECT_EQ(tag(e.mode), e.tag);
        EXPECT_EQ(configValue(e.mode), e.configValue);
        EXPECT_EQ(label(e.mode), e.label);
        EXPECT_EQ(deliver_mode::fromLabel(e.label), e.mode);
        EXPECT_EQ(deliver_mode::fromName(e.configValue), e.mode);
        if (e.mode != DeliverMode::ask) {
            EXPECT_EQ(deliver_mode::fromConfigValue(e.configValue), e.mode);
        }
    }
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

TEST(DeliverMode, ThePillAndTheSettingsWindowOfferTheirModesInTheirOrder) {
    using M = DeliverMode;
    EXPECT_EQ(deliver_mode::pickable(),
              (std::vector{M::professional, M::summarize, M::raw, M::agent, M::expand}));
    EXPECT_EQ(deliver_mode::settingsModes(),
              (std::vector{M::summarize, M::professional, M::raw, M::agent, M::expand}));
}

TEST(DeliverMode, ExplanationsAsShownInTheMenus) {
    EXPECT_EQ(example(DeliverMode::ask), "Asks you which mode to use after you stop.");
    EXPECT_EQ(example(DeliverMode::professional),
              "Polished prose ready to send as a text or email.\n\nYou say: \"tell mike cant make "
              "it tuesday, maybe thursday, ask him\"\n\nYou get: \"Hi Mike, I can't make "
              "Tuesday. Would Thursday work for you?\"");
    // The others share the layout: what it does, what you say (quoted), what you get.
    for (DeliverMode mode :
         {DeliverMode::summarize, DeliverMode::raw, DeliverMode::agent, DeliverMode::expand}) {
        const std::string text(example(mode));
        const auto say = text.find("\n\nYou say: \"");
        const auto get = text.find("\"\n\nYou get: ");
        EXPECT_NE(say, std::string::npos) << label(mode);
        EXPECT_NE(get, std::string::npos) << label(mode);
        EXPECT_LT(say, get);
        EXPECT_EQ(text.find("\n\n", get + 3), std::string::npos);
    }
}

} // namespace
} // namespace vak
