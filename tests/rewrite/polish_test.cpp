#include "rewrite/polish.h"
#include "rewrite/prompts.h"
#include "rewrite_fixture.h"

#include <array>

namespace vak {
namespace {

using nlohmann::json;

std::string words(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += (i == 0 ? "" : " ") + std::string("word");
    return text;
}

std::string repeat(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

class Polish : public test::RewriteTest {
  protected:
    const std::string transcript = "ship the fix today."; // 19 characters: floors of 11 and 9
};

TEST_F(Polish, TheChainAsksProvidersInOrderAndStopsAtTheFirstText) {
    struct Case {
        const char* name;
        std::string proxyToken;
        std::string key;
        bool claudeInstalled;
        std::string proxyAnswer;
        std::string keyedAnswer;
        std::vector<std::string> expectedCalls;
        std::optional<std::string> expected;
    };
    const std::string good = R"({"text":"From the proxy, long enough."})";
    const std::string refused = R"({"error":"no credit"})";
    const std::string anthropicGood = R"({"content":[{"text":"From Anthropic, long enough."}]})";
    const std::string groqGood =
        R"({"choices":[{"message":{"content":"From Groq, long enough."}}]})";
    const std::string failed = R"({"type":"error"})";
    const std::vector<Case> cases = {
        {"proxy answers",
         "cred",
         "gsk_1",
         true,
         good,
         groqGood,
         {"/api/polish"},
         "From the proxy, long enough."},
        {"proxy refuses, gsk_ key",
         "cred",
         "gsk_1",
         true,
         refused,
         groqGood,
         {"/api/polish", "/openai/v1/chat/completions"},
         "From Groq, long enough."},
        {"no proxy credential, other key",
         "",
         "sk-ant-1",
         true,
         good,
         anthropicGood,
         {"/v1/messages"},
         "From Anthropic, long enough."},
        {"no key", "", "", true, good, anthropicGood, {"claude"}, "Rewritten: ship the fix today."},
        {"Anthropic fails",
         "cred",
         "sk-ant-1",
         true,
         refused,
         failed,
         {"/api/polish", "/v1/messages", "claude"},
         "Rewritten: ship the fix today."},
        {"Groq fails",
         "",
         "gsk_1",
         true,
         good,
         failed,
         {"/openai/v1/chat/completions", "claude"},
         "Rewritten: ship the fix today."},
        {"everything fails",
         "cred",
         "sk-ant-1",
         false,
         refused,
         failed,
         {"/api/polish", "/v1/messages"},
         std::nullopt},
    };
    for (const auto& c : cases) {
        test::FakeSpeechServer fresh;
        RewriteSettings s = settings;
        s.proxyUrl = fresh.url("/api/polish");
        s.anthropicUrl = fresh.url("/v1/messages");
        s.groqUrl = fresh.url("/openai/v1/chat/completions");
        s.proxyToken = c.proxyToken;
        s.polishKey = c.key;
        test::TempDir toolHome;
        std::unique_ptr<test::FakeClaude> tool;
        if (c.claudeInstalled) tool = std::make_unique<test::FakeClaude>(toolHome.path());
        s.claudeTool = toolHome.file(".local/bin/claude");
        fresh.answer("polish", c.proxyAnswer);
        fresh.answer("messages", c.keyedAnswer);
        fresh.answer("chat", c.keyedAnswer);

        EXPECT_EQ(polishForAI(transcript, s), c.expected) << c.name;
        std::vector<std::string> calls;
        for (const auto& request : fresh.requests())
            calls.push_back(request["path"]);
        if (tool && !tool->calls().empty()) calls.emplace_back("claude");
        EXPECT_EQ(calls, c.expectedCalls) << c.name;
    }
}

TEST_F(Polish, EachRewriteSendsItsModeAndInstructionWithTheHouseStyle) {
    settings.proxyToken = "cred";
    settings.polishKey = "gsk_1";
    settings.style = "plain words";
    server.answer("polish", R"({"error":"down"})");
    server.answer("chat", R"({"choices":[{"message":{"content":"A long enough answer."}}]})");

    EXPECT_TRUE(polishForAI(transcript, settings));
    EXPECT_TRUE(polishForText(transcript, settings));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    const auto body = [&](std::size_t i) {
        return json::parse(requests[i]["body"].get<std::string>());
    };
    EXPECT_EQ(body(0)["mode"], "summarize");
    EXPECT_EQ(body(0)["text"], transcript);
    EXPECT_EQ(body(1)["messages"][0]["content"],
              std::string(POLISH_INSTRUCTION) + contextSuffix("plain words"));
    EXPECT_EQ(body(1)["messages"][1]["content"], transcript);
    EXPECT_EQ(body(2)["mode"], "professional");
    EXPECT_EQ(body(3)["messages"][0]["content"],
              std::string(POLISH_TEXT_INSTRUCTION) + contextSuffix("plain words"));

    // The claude tool gets the same instruction as its prompt.
    settings.polishKey.clear();
    settings.proxyToken.clear();
    auto& tool = installClaude();
    tool.answer("A long enough answer.");
    EXPECT_TRUE(polishForText(transcript, settings));
    ASSERT_EQ(tool.calls().size(), 1u);
    EXPECT_EQ(tool.calls()[0]["args"][3],
              std::string(POLISH_TEXT_INSTRUCTION) + contextSuffix("plain words"));
    EXPECT_EQ(tool.calls()[0]["stdin"], transcript);
}

TEST_F(Polish, TheTimeLimitGrowsWithTheWordCount) {
    settings.proxyToken = "cred";
    struct Case {
        bool forAI;
        std::size_t words;
        const char* maxTime;
    };
    const std::array<Case, 5> cases = {{
        {true, 12, "30"},   // 12 × 0.25 = 3, raised to 30
        {true, 200, "50"},  // 200 × 0.25
        {true, 201, "50"},  // 50.25, whole seconds
        {false, 100, "25"}, // 100 ÷ 5 = 20, raised to 25
        {false, 200, "40"}, // 200 ÷ 5
    }};
    for (const auto& c : cases) {
        const std::string text = words(c.words);
        server.answer("polish", json({{"text", text}}).dump(), 0.3);
        test::CommandLineWatch watch;
        EXPECT_EQ(c.forAI ? polishForAI(text, settings) : polishForText(text, settings), text);
        watch.stop();
        const auto curls = watch.commandsContaining(settings.proxyUrl);
        ASSERT_EQ(curls.size(), 1u) << c.words;
        EXPECT_EQ(test::argumentAfter(curls[0], "--max-time"), c.maxTime)
            << (c.forAI ? "for AI, " : "for text, ") << c.words << " words";
    }
}

TEST_F(Polish, RefusalsAndPreamblesAreRejectedWholeInAnyLetterCase) {
    auto& tool = installClaude();
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"HeRe'S tHe ReWrItTeN transcript:\nShip the fix today.", std::nullopt},
        {"Here\u2019s the rewritten transcript:\nShip the fix today.", std::nullopt},
        {"\n here is the rewritten text: ship the fix today.", std::nullopt},
        {"I CANNOT do that, it is against the rules.", std::nullopt},
        {"I can't do that, it is against the rules.", std::nullopt},
        {"I\u2019m sorry, that is against the rules.", std::nullopt},
        {"   \n\n\t  ", std::nullopt},
        {"\n\nShip the fix today, please.\n", "Ship the fix today, please."},
        {"Sorry: here's the rewritten plan.", "Sorry: here's the rewritten plan."},
    };
    for (const auto& [answer, expected] : cases) {
        tool.answer(answer);
        EXPECT_EQ(polishForAI(transcript, settings), expected) << answer;
        EXPECT_EQ(polishForText(transcript, settings), expected) << answer;
    }
}

TEST_F(Polish, TheLengthFloorCountsUserPerceivedCharacters) {
    auto& tool = installClaude();
    const std::string input = repeat("a", 100);
    // "é" as e + U+0301: one character, three bytes.
    const std::string accent = "e\u0301";
    const std::vector<std::tuple<bool, std::string, bool>> cases = {
        {true, repeat("b", 59), false},
        {true, repeat("b", 60), true},
        {true, repeat(accent, 59), false},
        {true, repeat(accent, 60), true},
        {false, repeat("b", 49), false},
        {false, repeat("b", 50), true},
        {false, repeat(accent, 49), false},
        // Padding does not count: the answer is trimmed first.
        {true, "   " + repeat("b", 58) + "\n\n\n", false},
    };
    for (const auto& [forAI, answer, accepted] : cases) {
        tool.answer(answer);
        const auto result = forAI ? polishForAI(input, settings) : polishForText(input, settings);
        EXPECT_EQ(result.has_value(), accepted)
            << (forAI ? "for AI: " : "for text: ") << answer.size() << " bytes";
    }
    // The input is measured the same way: 100 accented characters need 60 back.
    tool.answer(repeat("b", 60));
    EXPECT_TRUE(polishForAI(repeat(accent, 100), settings));
}

TEST_F(Polish, EmptyInputAsksNoProvider) {
    settings.proxyToken = "cred";
    server.answer("polish", R"({"text":"Invented from nothing."})");
    installClaude();
    EXPECT_EQ(polishForAI(" \n", settings), std::nullopt);
    EXPECT_EQ(polishForText("", settings), std::nullopt);
    EXPECT_EQ(providerCalls(), std::vector<std::string>{});
}

} // namespace
} // namespace vak
