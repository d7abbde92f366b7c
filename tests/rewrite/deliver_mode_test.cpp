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
    EXPECT_EQ(example(DeliverMode::raw),
              "Pastes exactly what you said, cleaned of filler.\n\nYou say: \"um so the, the "
              "button is broken\"\n\nYou get: \"So the button is broken.\"");
    EXPECT_EQ(example(DeliverMode::professional),
              "Polished prose ready to send as a text or email.\n\nYou say: \"tell mike cant make "
              "it tuesday, maybe thursday, ask him\"\n\nYou get: \"Hi Mike, I can't make "
              "Tuesday. Would Thursday work for you?\"");
    EXPECT_EQ(example(DeliverMode::summarize),
              "Restructures a long ramble into a clear, organized document.\n\nYou say: \"ok so "
              "the login thing, tokens expire after an hour but the refresh isn't firing, and "
              "also we should log it\"\n\nYou get: a structured writeup with each point unpacked "
              "and the reasoning kept.");
    EXPECT_EQ(example(DeliverMode::agent),
              "Turns a rambling task description into a brief for a coding agent.\n\nYou say: "
              "\"fix the auth thing where the token expires and it doesn't refresh, don't touch "
              "the session code\"\n\nYou get: Goal, Constraints, Done when, and Context sections, "
              "with no invented requirements.");
    EXPECT_EQ(example(DeliverMode::expand),
              "Takes one short sentence and fills in the detail an AI needs.\n\nYou say: \"add "
              "rate limiting to the API\"\n\nYou get: the same request with edge cases, limits, "
              "and what done looks like spelled out. Anything it can't infer is listed as an "
              "open question instead of guessed.");
}

} // namespace
} // namespace vak
