#include "rewrite/deliver_mode.h"

#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(DeliverMode, TagsNamesAndLabelsInDeclarationOrder) {
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
    ASSERT_EQ(deliver_mode::allCases.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const Expected& e = table[i];
        EXPECT_EQ(deliver_mode::allCases[i], e.mode);
        EXPECT_EQ(tag(e.mode), e.tag);
        EXPECT_EQ(configValue(e.mode), e.configValue);
        EXPECT_EQ(label(e.mode), e.label);
        EXPECT_EQ(deliver_mode::fromLabel(e.label), e.mode);
    }
    EXPECT_EQ(deliver_mode::pickable,
              (std::array{DeliverMode::professional, DeliverMode::summarize, DeliverMode::raw,
                          DeliverMode::agent, DeliverMode::expand}));
    EXPECT_EQ(SETTINGS_MODES, (std::array<std::string_view, 5>{"summarize", "professional",
                                                               "normal", "agent", "expand"}));
    EXPECT_EQ(deliver_mode::fromLabel("Raw"), std::nullopt);
    EXPECT_EQ(deliver_mode::fromLabel("Ask me after I stop"), std::nullopt);
}

TEST(DeliverMode, FromConfigIsExactAndDefaultsToAsk) {
    EXPECT_EQ(deliver_mode::fromConfig("summarize"), DeliverMode::summarize);
    EXPECT_EQ(deliver_mode::fromConfig("professional"), DeliverMode::professional);
    EXPECT_EQ(deliver_mode::fromConfig("normal"), DeliverMode::raw);
    EXPECT_EQ(deliver_mode::fromConfig("agent"), DeliverMode::agent);
    EXPECT_EQ(deliver_mode::fromConfig("expand"), DeliverMode::expand);
    for (const char* other : {"ask", "raw", "Summarize", "", "normal ", "polish"})
        EXPECT_EQ(deliver_mode::fromConfig(other), DeliverMode::ask) << other;
    // Every configuration value leads back to its mode, except ask's own.
    for (DeliverMode mode : deliver_mode::allCases)
        EXPECT_EQ(deliver_mode::fromConfig(configValue(mode)), mode);
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
