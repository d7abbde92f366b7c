#include "binary_fixture.h"
#include "rewrite/prompts.h"
#include "support/rewrite_fakes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using nlohmann::json;
using test::runVak;

// Both providers' endpoints on the fake server.
class PolishStdin : public test::BinaryTest {
  protected:
    ~PolishStdin() override { EXPECT_TRUE(scratchIsEmpty()); } // no request body left behind

    test::BinaryOptions options(const std::string& input) const {
        auto o = BinaryTest::options(input);
        o.env["VAK_ANTHROPIC_URL"] = server.url("/v1/messages");
        o.env["VAK_GROQ_URL"] = server.url("/openai/v1/chat/completions");
        return o;
    }
    void configure(const std::string& lines) const { userFile("config", lines); }

    test::FakeSpeechServer server;
};

TEST_F(PolishStdin, TheCleanUpRewriteComesBackFromTheEndpoint) {
    configure("POLISH_KEY=sk-ant-cli-test\nPOLISH_MODEL=claude-cli-model\n");
    server.answer("messages",
                  R"({"content":[{"type":"text","text":"\nSo I think we should go.\n"}]})");
    const auto run = runVak({"--polish-text-stdin"}, options("okay so um I think we should go"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "So I think we should go.\n");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["headers"]["x-api-key"], "sk-ant-cli-test");
    const auto body = json::parse(requests[0]["body"].get<std::string>());
    EXPECT_EQ(body["model"], "claude-cli-model");
    // The rewrite gets the formatted transcript.
    EXPECT_EQ(body["messages"][0]["content"], std::string(POLISH_TEXT_INSTRUCTION) +
                                                  "\n\nTranscript:\nOkay so I think we should go.");
}

TEST_F(PolishStdin, TheProxyIsUsedWhenItsCredentialIsThere) {
    configure("POLISH_PROXY_URL=" + server.url("/api/polish") + "\n");
    userFile("proxy-token", "  proxy-cli-cred\n");
    ::chmod(home.file(".dictation/proxy-token").c_str(), 0644);
    server.answer("polish", R"({"text":"# Plan\n\n1. Ship the fix today."})");
    const auto run = runVak({"--polish-stdin"}, options("ship the fix today"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "# Plan\n\n1. Ship the fix today.\n");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(
        json::parse(requests[0]["body"].get<std::string>()),
        json(
            {{"mode", "summarize"}, {"text", "Ship the fix today."}, {"token", "proxy-cli-cred"}}));
    // A credential other users could read is made private.
    struct stat st {};
    ASSERT_EQ(::stat(home.file(".dictation/proxy-token").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PolishStdin, WithoutAKeyTheClaudeToolInHomeAnswers) {
    test::FakeClaude tool(home.path());
    tool.answer("Ship the fix today, before the release.\n");
    const auto run = runVak({"--polish-stdin"}, options("ship the fix today"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Ship the fix today, before the release.\n");
    ASSERT_EQ(tool.calls().size(), 1u);
    EXPECT_EQ(tool.calls()[0]["args"],
              json({"--model", "claude-sonnet-5", "-p", POLISH_INSTRUCTION}));
    EXPECT_EQ(tool.calls()[0]["stdin"], "Ship the fix today.");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PolishStdin, WhenEveryProviderFailsItSaysSoAndExits1) {
    configure("POLISH_KEY=sk-ant-cli-test\nPOLISH_PROXY_URL=" + test::deadUrl("/api/polish") +
              "\nPOLISH_OPENAI_URL=" + server.url("/v1/chat/completions") +
              "\nPOLISH_OPENAI_MODEL=llama3.2\nPOLISH_OPENAI_KEY=ollama-cli-key\n");
    userFile("proxy-token", "proxy-cli-cred");
    server.answer("completions", R"({"error":{"message":"model \"llama3.2\" not found"}})");
    server.answer("messages", R"({"type":"error","error":{"type":"authentication_error"}})");
    auto run = runVak({"--polish-text-stdin"}, options("okay so um I think we should go"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "PRO POLISH FAILED — daemon would paste the raw transcript\n");

    run = runVak({"--polish-stdin"}, options("okay so um I think we should go"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "POLISH FAILED — daemon would paste the raw transcript\n");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0]["path"], "/v1/chat/completions"); // the local model first
    EXPECT_EQ(requests[0]["headers"]["authorization"], "Bearer ollama-cli-key");
    EXPECT_EQ(json::parse(requests[0]["body"].get<std::string>())["model"], "llama3.2");
    EXPECT_EQ(requests[1]["path"], "/v1/messages");

    // Nothing to rewrite is a failure too, without asking anyone.
    run = runVak({"--polish-stdin"}, options("caf\xe9 not UTF-8"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(server.requests().size(), 4u);
}

} // namespace
} // namespace vak
