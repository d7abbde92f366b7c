// --polish-stdin and --polish-text-stdin through the built binary; the providers' order and
// requests are the rewrite suite's business.
#include "binary_fixture.h"
#include "rewrite/prompts.h"
#include "support/rewrite_fakes.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using nlohmann::json;

using PolishStdin = test::BinaryTest;

// The local model fails first each time; a failure is said and exits 1, and nothing to rewrite is
// one too, without asking anyone; no request body is left behind.
TEST_F(PolishStdin, TheFormattedTranscriptGoesToEachProviderUntilOneAnswers) {
    const test::FakeSpeechServer server;
    userFile("config", "POLISH_KEY=sk-ant-cli-test\nPOLISH_MODEL=claude-cli-model\n"
                       "POLISH_OPENAI_URL=" +
                           server.url("/v1/chat/completions") +
                           "\nPOLISH_OPENAI_MODEL=llama3.2\nPOLISH_OPENAI_KEY=ollama-cli-key\n");
    server.answer("completions", R"({"error":{"message":"model \"llama3.2\" not found"}})");
    server.answer("messages", R"({"content":[{"type":"text","text":"\nSo we should go.\n"}]})");
    auto o = options("okay so um I think we should go");
    o.env["VAK_ANTHROPIC_URL"] = server.url("/v1/messages");
    const auto run = test::runVak({"--polish-text-stdin"}, o);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "So we should go.\n");
    server.answer("messages", R"({"type":"error","error":{"type":"authentication_error"}})");
    const auto failed = test::runVak({"--polish-stdin"}, o);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "POLISH FAILED — daemon would paste the raw transcript\n");
    o.input = "caf\xe9 not UTF-8";
    EXPECT_EQ(test::runVak({"--polish-stdin"}, o).exitCode, 1);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0]["headers"]["authorization"], "Bearer ollama-cli-key");
    EXPECT_EQ(requests[1]["headers"]["x-api-key"], "sk-ant-cli-test");
    const auto body = json::parse(requests[1]["body"].get<std::string>());
    EXPECT_EQ(body["model"], "claude-cli-model");
    EXPECT_EQ(body["messages"][0]["content"], std::string(POLISH_TEXT_INSTRUCTION) +
                                                  "\n\nTranscript:\nOkay so I think we should go.");
    EXPECT_TRUE(scratchIsEmpty());
}

} // namespace
} // namespace vak
