#include "rewrite/command_edit.h"
#include "rewrite/prompts.h"
#include "rewrite_fixture.h"

namespace vak {
namespace {

using nlohmann::json;

class CommandEdit : public test::RewriteTest {
  protected:
    // A local editor that records its calls and answers `answer`.
    LocalCommandEditor localEditor(std::optional<std::string> answer) {
        return [this, answer](std::string_view selection, std::string_view instruction) {
            localCalls.emplace_back(std::string(selection), std::string(instruction));
            return answer;
        };
    }
    std::vector<std::pair<std::string, std::string>> localCalls;
};

TEST_F(CommandEdit, SendsSelectionAndInstructionWithItsOwnPromptAndNoHouseStyle) {
    settings.proxyToken = "cred";
    settings.polishKey = "gsk_1";
    settings.style = "pirate voice";
    settings.localUrl = server.url("/v1/chat/completions");
    server.answer("completions", R"({"error":{"message":"model not loaded"}})");
    server.answer("polish", R"({"error":"down"})");
    server.answer("chat", R"({"choices":[{"message":{"content":"DEAR SAM"}}]})");
    EXPECT_EQ(commandEdit("Dear Sam", "all caps", localEditor("unused"), settings), "DEAR SAM");
    EXPECT_TRUE(localCalls.empty());

    const std::string prompt = "SELECTED TEXT:\nDear Sam\n\nINSTRUCTION:\nall caps";
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(test::bodyOf(requests[1]),
              json({{"mode", "command"}, {"text", prompt}, {"token", "cred"}}));
    // The local model server is asked first, with the same conversation as Groq.
    for (const std::size_t chat : {std::size_t{0}, std::size_t{2}}) {
        const auto body = test::bodyOf(requests[chat]);
        EXPECT_EQ(body["messages"][0]["content"], COMMAND_INSTRUCTION) << chat;
        EXPECT_EQ(body["messages"][1]["content"], prompt) << chat;
    }
}

TEST_F(CommandEdit, LongSelectionsGetLongerTimeLimits) {
    settings.proxyToken = "cred";
    const std::vector<std::pair<std::size_t, const char*>> cases = {
        {12, "30"}, {1200, "30"}, {2000, "50"}, {2039, "50"}, {4000, "100"}};
    for (const auto& [length, maxTime] : cases) {
        server.answer("polish", R"({"text":"Edited."})", 0.3);
        test::CommandLineWatch watch;
        EXPECT_EQ(commandEdit(std::string(length, 'x'), "tidy", nullptr, settings), "Edited.");
        watch.stop();
        EXPECT_EQ(test::maxTimeFor(watch, settings.proxyUrl), maxTime) << length;
    }
    // Characters as the user sees them: 2,000 accented letters are 2,000, not 6,000.
    std::string accented;
    for (int i = 0; i < 2000; ++i)
        accented += "e\u0301";
    EXPECT_DOUBLE_EQ(commandEditTimeoutSeconds(accented), 50);
}

TEST_F(CommandEdit, RefusalsAreNotPasted) {
    auto& tool = installClaude();
    for (const char* answer : {"I'm sorry, I can't edit that.", "i cannot comply",
                               "I can\u2019t do that.", "I CAN'T", "  \n  "}) {
        tool.answer(answer);
        EXPECT_EQ(commandEdit("Dear Sam", "rewrite", localEditor("local"), settings), std::nullopt)
            << answer;
    }
    // A model answer, even a refusal, is final: the local editor only stands in for no answer.
    EXPECT_TRUE(localCalls.empty());
    tool.answer("Here is the rewritten text");
    EXPECT_EQ(commandEdit("Dear Sam", "rewrite", nullptr, settings), "Here is the rewritten text");
}

TEST_F(CommandEdit, WithNoModelTheLocalEditorAnswersAndSaysSo) {
    test::LogCapture log;
    EXPECT_EQ(commandEdit("Dear Sam", "make it all caps", localEditor("DEAR SAM\n"), settings),
              "DEAR SAM");
    ASSERT_EQ(localCalls.size(), 1u);
    EXPECT_EQ(localCalls[0],
              std::make_pair(std::string("Dear Sam"), std::string("make it all caps")));
    EXPECT_NE(log.text().find("· command edit handled in code (no AI needed)\n"),
              std::string::npos);

    test::LogCapture quiet;
    EXPECT_EQ(commandEdit("Dear Sam", "translate to French", localEditor(std::nullopt), settings),
              std::nullopt);
    EXPECT_EQ(commandEdit("Dear Sam", "translate to French", nullptr, settings), std::nullopt);
    EXPECT_EQ(quiet.text(), "");
}

TEST_F(CommandEdit, AFailingKeyedProviderFallsToTheToolThenTheLocalEditor) {
    settings.polishKey = "sk-ant-1";
    server.answer("messages", R"({"content":[]})");
    installClaude().setControl("exit=1");
    EXPECT_EQ(commandEdit("Dear Sam", "all caps", localEditor("DEAR SAM"), settings), "DEAR SAM");
    EXPECT_EQ(providerCalls(), (std::vector<std::string>{"/v1/messages", "claude"}));
    EXPECT_EQ(localCalls.size(), 1u);
}

} // namespace
} // namespace vak
