#include "rewrite/polish.h"
#include "rewrite/prompts.h"
#include "rewrite_fixture.h"

#include <array>

namespace vak {
namespace {

using nlohmann::json;

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
    const std::string proxy = "/api/polish", anthropic = "/v1/messages";
    const std::string groq = "/openai/v1/chat/completions", local = "/v1/chat/completions";
    const std::string byTool = "Rewritten: ship the fix today."; // the fake tool's own answer
    struct Case {
        std::string proxyToken, key;
        bool toolInstalled, proxyAnswers, keyedAnswers;
        std::vector<std::string> expectedCalls;
        std::optional<std::string> expected;
        std::optional<bool> localAnswers = std::nullopt; // absent: no local model server
    };
    const std::vector<Case> cases = {
        {"cred", "gsk_1", true, true, true, {proxy}, "By the proxy."},
        {"cred", "gsk_1", true, false, true, {proxy, groq}, "From Groq now."},
        {"", "sk-ant-1", true, true, true, {anthropic}, "By Anthropic."},
        {"", "", true, true, true, {"claude"}, byTool},
        {"cred", "sk-ant-1", true, false, false, {proxy, anthropic, "claude"}, byTool},
        {"", "gsk_1", true, true, false, {groq, "claude"}, byTool},
        {"cred", "sk-ant-1", false, false, false, {proxy, anthropic}, std::nullopt},
        {"cred", "gsk_1", true, true, true, {local}, "From the local model.", true},
        {"", "", true, true, true, {local, "claude"}, byTool, false},
        {"cred", "", true, true, true, {local, proxy}, "By the proxy.", false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        test::FakeSpeechServer fresh;
        test::TempDir toolHome;
        std::unique_ptr<test::FakeClaude> tool;
        if (c.toolInstalled) tool = std::make_unique<test::FakeClaude>(toolHome.path());
        RewriteSettings s = settings;
        s.proxyUrl = fresh.url(proxy);
        s.anthropicUrl = fresh.url(anthropic);
        s.groqUrl = fresh.url(groq);
        s.claudeTool = toolHome.file(".local/bin/claude");
        s.proxyToken = c.proxyToken;
        s.polishKey = c.key;
        if (c.localAnswers) s.localUrl = fresh.url(local);
        const std::string failed = R"({"type":"error"})";
        fresh.answer("polish", c.proxyAnswers ? R"({"text":"By the proxy."})" : R"({"error":"x"})");
        fresh.answer("completions",
                     c.localAnswers.value_or(false)
                         ? R"({"choices":[{"message":{"content":"From the local model."}}]})"
                         : failed);
        fresh.answer("messages",
                     c.keyedAnswers ? R"({"content":[{"text":"By Anthropic."}]})" : failed);
        fresh.answer("chat", c.keyedAnswers
                                 ? R"({"choices":[{"message":{"content":"From Groq now."}}]})"
                                 : failed);

        EXPECT_EQ(polishForAI(transcript, s), c.expected);
        EXPECT_EQ(test::providerCalls(fresh, tool.get()), c.expectedCalls);
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
    const auto body = [&](std::size_t i) { return test::bodyOf(requests[i]); };
    const std::string style = contextSuffix("plain words");
    EXPECT_EQ(body(0)["mode"], "summarize");
    EXPECT_EQ(body(0)["text"], transcript);
    EXPECT_EQ(body(1)["messages"][0]["content"], std::string(POLISH_INSTRUCTION) + style);
    EXPECT_EQ(body(1)["messages"][1]["content"], transcript);
    EXPECT_EQ(body(2)["mode"], "professional");
    EXPECT_EQ(body(3)["messages"][0]["content"], std::string(POLISH_TEXT_INSTRUCTION) + style);

    EXPECT_EQ(style, "\nHouse style, always apply: plain words. Keep this voice in every "
                     "sentence without mentioning it.");

    // The claude tool gets the same instruction as its prompt; no style, no suffix.
    settings.polishKey.clear();
    settings.proxyToken.clear();
    settings.style.clear();
    auto& tool = installClaude();
    tool.answer("A long enough answer.");
    EXPECT_TRUE(polishForText(transcript, settings));
    ASSERT_EQ(tool.calls().size(), 1u);
    EXPECT_EQ(tool.calls()[0]["args"][3], std::string(POLISH_TEXT_INSTRUCTION));
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
        SCOPED_TRACE((c.forAI ? "for AI, " : "for text, ") + std::to_string(c.words) + " words");
        const std::string text = repeat(" word", c.words).substr(1);
        server.answer("polish", json({{"text", text}}).dump(), 0.3);
        test::CommandLineWatch watch;
        EXPECT_EQ(c.forAI ? polishForAI(text, settings) : polishForText(text, settings), text);
        watch.stop();
        EXPECT_EQ(test::maxTimeFor(watch, settings.proxyUrl), c.maxTime);
    }
}

TEST_F(Polish, RefusalsAndPreamblesAreRejectedWholeInAnyLetterCase) {
    auto& tool = installClaude();
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"HeRe'S tHe ReWrItTeN transcript:\nShip the fix today.", std::nullopt},
        {"\n here is the rewritten text: ship the fix today.", std::nullopt},
        {"I CANNOT do that, it is against the rules.", std::nullopt},
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
    // Empty input asks no provider at all.
    const std::size_t asked = tool.calls().size();
    EXPECT_EQ(polishForAI(" \n", settings), std::nullopt);
    EXPECT_EQ(polishForText("", settings), std::nullopt);
    EXPECT_EQ(tool.calls().size(), asked);
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

} // namespace
} // namespace vak
