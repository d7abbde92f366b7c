#include "rewrite/command_edit.h"
#include "rewrite/polish.h"
#include "rewrite/prompts.h"
#include "rewrite_fixture.h"

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
    // A local command editor that records its calls and answers `answer`.
    LocalCommandEditor localEditor(std::optional<std::string> answer) {
        return [this, answer](std::string_view selection, std::string_view instruction) {
            localCalls.emplace_back(selection, instruction);
            return answer;
        };
    }
    std::vector<std::pair<std::string, std::string>> localCalls;
    const std::string transcript = "ship the fix today."; // 19 characters: floors of 11 and 9
};

TEST_F(Polish, TheChainAsksProvidersInOrderAndStopsAtTheFirstText) {
    const std::string proxy = "/api/polish", anthropic = "/v1/messages";
    const std::string groq = "/openai/v1/chat/completions", local = "/v1/chat/completions";
    const std::string byTool = "Rewritten: ship the fix today."; // the fake tool's own answer
    const char* routes[] = {"polish", "completions", "messages", "chat"};
    const char* good[] = {R"({"text":"By the proxy."})",
                          R"({"choices":[{"message":{"content":"From the local model."}}]})",
                          R"({"content":[{"text":"By Anthropic."}]})",
                          R"({"choices":[{"message":{"content":"From Groq now."}}]})"};
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
        std::optional<test::FakeClaude> tool;
        if (c.toolInstalled) tool.emplace(toolHome.path());
        RewriteSettings s = settings;
        test::pointAt(s, fresh);
        s.claudeTool = toolHome.file(".local/bin/claude");
        s.proxyToken = c.proxyToken;
        s.polishKey = c.key;
        if (c.localAnswers) s.localUrl = fresh.url(local);
        const bool answers[] = {c.proxyAnswers, c.localAnswers.value_or(false), c.keyedAnswers,
                                c.keyedAnswers};
        for (std::size_t p = 0; p < 4; ++p)
            fresh.answer(routes[p], answers[p] ? good[p] : R"({"type":"error"})");
        EXPECT_EQ(polishForAI(transcript, s), c.expected);
        EXPECT_EQ(test::providerCalls(fresh, tool ? &*tool : nullptr), c.expectedCalls);
    }
}

// The local model server is asked first, then the proxy with a mode, then Groq with the
// instruction: the house style rides along with the rewrites but not with a command edit.
TEST_F(Polish, EachRewriteSendsItsModeAndInstructionWithTheHouseStyle) {
    settings.proxyToken = "cred";
    settings.polishKey = "gsk_1";
    settings.style = "plain words";
    settings.localUrl = server.url("/v1/chat/completions");
    server.answer("completions", R"({"error":{"message":"model not loaded"}})");
    server.answer("polish", R"({"error":"down"})");
    server.answer("chat", R"({"choices":[{"message":{"content":"A long enough answer."}}]})", 0.3);
    EXPECT_TRUE(polishForAI(transcript, settings));
    EXPECT_TRUE(polishForText(transcript, settings));
    test::CommandLineWatch watch;
    EXPECT_EQ(commandEdit("Dear Sam", "all caps", localEditor("unused"), settings),
              "A long enough answer.");
    watch.stop();
    EXPECT_TRUE(localCalls.empty());
    EXPECT_EQ(test::maxTimeFor(watch, settings.groqUrl), "30");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 9u);
    const auto body = [&](std::size_t i) { return test::bodyOf(requests[i]); };
    const std::string style = contextSuffix("plain words");
    const std::string prompt = "SELECTED TEXT:\nDear Sam\n\nINSTRUCTION:\nall caps";
    EXPECT_EQ(body(1), json({{"mode", "summarize"}, {"text", transcript}, {"token", "cred"}}));
    EXPECT_EQ(body(2)["messages"][0]["content"], std::string(POLISH_INSTRUCTION) + style);
    EXPECT_EQ(body(2)["messages"][1]["content"], transcript);
    EXPECT_EQ(body(4)["mode"], "professional");
    EXPECT_EQ(body(5)["messages"][0]["content"], std::string(POLISH_TEXT_INSTRUCTION) + style);
    EXPECT_EQ(body(7), json({{"mode", "command"}, {"text", prompt}, {"token", "cred"}}));
    for (const std::size_t local : {0u, 3u, 6u})
        EXPECT_EQ(body(local)["messages"], body(local + 2)["messages"]) << local;
    EXPECT_EQ(body(8)["messages"][0]["content"], COMMAND_INSTRUCTION);
    EXPECT_EQ(body(8)["messages"][1]["content"], prompt);
    // One second per 40 characters as the user sees them: 2,000 accented letters are 2,000.
    EXPECT_DOUBLE_EQ(commandEditTimeoutSeconds(std::string(2039, 'x')), 50.975);
    EXPECT_DOUBLE_EQ(commandEditTimeoutSeconds(repeat("e\u0301", 2000)), 50);
}

TEST_F(Polish, TheTimeLimitGrowsWithTheWordCount) {
    settings.proxyToken = "cred";
    // For AI a quarter second a word, at least 30; for text a fifth, at least 25. Whole seconds.
    const std::tuple<bool, std::size_t, const char*> cases[] = {
        {true, 12, "30"}, {true, 201, "50"}, {false, 100, "25"}, {false, 200, "40"}};
    for (const auto& [forAI, words, maxTime] : cases) {
        const std::string text = repeat(" word", words).substr(1);
        server.answer("polish", json({{"text", text}}).dump(), 0.3);
        test::CommandLineWatch watch;
        EXPECT_EQ(forAI ? polishForAI(text, settings) : polishForText(text, settings), text);
        watch.stop();
        EXPECT_EQ(test::maxTimeFor(watch, settings.proxyUrl), maxTime) << words;
    }
}

// The floors are three fifths of the input for AI and half for text, in characters as the user
// sees them: "é" written as e + U+0301 is one character of three bytes.
TEST_F(Polish, RefusalsPreamblesAndShortAnswersAreRejected) {
    auto& tool = installClaude();
    const std::string hundred = repeat("a", 100), accent = "e\u0301";
    const std::tuple<bool, std::string, std::string, std::optional<std::string>> cases[] = {
        {true, transcript, "HeRe'S tHe ReWrItTeN transcript:\nShip the fix today.", {}},
        {false, transcript, "I\u2019m sorry, that is against the rules.", {}},
        {false, transcript, "\n\nShip the fix today, please.\n", "Ship the fix today, please."},
        {true, transcript, "Sorry: here's the rewritten plan.",
         "Sorry: here's the rewritten plan."},
        {true, hundred, repeat("b", 59), {}},
        {true, hundred, repeat("b", 60), repeat("b", 60)},
        {true, hundred, repeat(accent, 59), {}},
        {true, hundred, "   " + repeat("b", 58) + "\n\n\n", {}},
        {false, hundred, repeat("b", 49), {}},
        {false, hundred, repeat("b", 50), repeat("b", 50)},
        {true, repeat(accent, 100), repeat("b", 60), repeat("b", 60)},
    };
    for (const auto& [forAI, input, answer, expected] : cases) {
        tool.answer(answer);
        EXPECT_EQ(forAI ? polishForAI(input, settings) : polishForText(input, settings), expected)
            << answer;
    }
    // Empty input asks no provider at all.
    const std::size_t asked = tool.calls().size();
    EXPECT_EQ(polishForAI(" \n", settings), std::nullopt);
    EXPECT_EQ(polishForText("", settings), std::nullopt);
    EXPECT_EQ(tool.calls().size(), asked);
}

TEST_F(Polish, ACommandEditRefusalIsNotPastedAndNoModelLeavesItToTheLocalEditor) {
    auto& tool = installClaude();
    for (const char* answer : {"I'm sorry, I can't edit that.", "I can\u2019t do that.", " \n "}) {
        tool.answer(answer);
        EXPECT_EQ(commandEdit("Dear Sam", "rewrite", localEditor("local"), settings), std::nullopt)
            << answer;
    }
    // A model answer, even a refusal, is final: the local editor only stands in for no answer.
    EXPECT_TRUE(localCalls.empty());
    tool.answer("Here is the rewritten text");
    EXPECT_EQ(commandEdit("Dear Sam", "rewrite", nullptr, settings), "Here is the rewritten text");

    // A failing keyed provider falls to the tool, then the local editor, which says so.
    settings.polishKey = "sk-ant-1";
    server.answer("messages", R"({"content":[]})");
    tool.setControl("exit=1");
    test::LogCapture log;
    EXPECT_EQ(commandEdit("Dear Sam", "all caps", localEditor("DEAR SAM\n"), settings), "DEAR SAM");
    EXPECT_EQ(server.requests().at(0)["path"], "/v1/messages");
    EXPECT_EQ(localCalls, (decltype(localCalls){{"Dear Sam", "all caps"}}));
    EXPECT_TRUE(log.has(LogLevel::info, "command edit handled in code (no AI needed)"));
}

} // namespace
} // namespace vak
