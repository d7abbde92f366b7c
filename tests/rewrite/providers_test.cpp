#include "base/files.h"
#include "base/time_util.h"
#include "rewrite/providers.h"
#include "rewrite_fixture.h"

#include <algorithm>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using nlohmann::json;
using test::bodyOf;
using test::maxTimeFor;
using test::writeFixture;

class Providers : public test::RewriteTest {};

TEST_F(Providers, AnthropicGetsTheDocumentedRequestAndNoProcessShowsTheKey) {
    settings.polishKey = "sk-ant-secret-5f1c\"quoted\\";
    server.answer("messages", R"({"content":[{"type":"text","text":"Done."}]})", 0.4);
    test::CommandLineWatch watch;
    EXPECT_EQ(polishViaAPI("fix the login", 42.9, "Be brief.", settings), "Done.");
    watch.stop();

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "POST");
    EXPECT_EQ(requests[0]["path"], "/v1/messages");
    EXPECT_EQ(requests[0]["headers"]["x-api-key"], settings.polishKey);
    EXPECT_EQ(requests[0]["headers"]["anthropic-version"], "2023-06-01");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/json");
    EXPECT_EQ(
        bodyOf(requests[0]),
        json({{"model", "claude-test-model"},
              {"max_tokens", 16000},
              {"messages",
               {{{"role", "user"}, {"content", "Be brief.\n\nTranscript:\nfix the login"}}}}}));

    EXPECT_TRUE(watch.commandsContaining("sk-ant-secret").empty());
    const auto curls = watch.commandsContaining(settings.anthropicUrl);
    ASSERT_EQ(curls.size(), 1u);
    EXPECT_EQ(curls[0][0], "/usr/bin/curl");
    EXPECT_EQ(test::argumentAfter(curls[0], "--max-time"), "42");
}

TEST_F(Providers, GroqGetsItsFixedModelAndTheKeyOnlyOnTheWire) {
    settings.polishKey = "gsk_secret_7d2e";
    settings.polishModel = "never-sent-to-groq";
    server.answer("chat", R"({"choices":[{"message":{"role":"assistant","content":"Done."}}]})",
                  0.4);
    test::CommandLineWatch watch;
    EXPECT_EQ(polishViaGroq("fix the login", 30, "Be brief.", settings), "Done.");
    watch.stop();

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["path"], "/openai/v1/chat/completions");
    EXPECT_EQ(requests[0]["headers"]["authorization"], "Bearer gsk_secret_7d2e");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/json");
    EXPECT_EQ(bodyOf(requests[0]), json({{"model", "llama-3.3-70b-versatile"},
                                         {"max_tokens", 8192},
                                         {"temperature", 0.2},
                                         {"messages",
                                          {{{"role", "system"}, {"content", "Be brief."}},
                                           {{"role", "user"}, {"content", "fix the login"}}}}}));
    EXPECT_TRUE(watch.commandsContaining("gsk_secret").empty());
    EXPECT_EQ(maxTimeFor(watch, settings.groqUrl), "30");
}

TEST_F(Providers, ALocalModelServerGetsAChatRequestWithItsKeyOnlyOnTheWire) {
    settings.localUrl = server.url("/v1/chat/completions");
    settings.localModel = "qwen2.5:7b";
    settings.localKey = "local-secret-3e9a";
    server.answer("completions", R"({"choices":[{"message":{"content":"Done."}}]})", 0.4);
    test::CommandLineWatch watch;
    EXPECT_EQ(polishViaLocalModel("fix the login", 44.5, "Be brief.", settings), "Done.");
    watch.stop();
    EXPECT_TRUE(watch.commandsContaining("local-secret").empty());
    EXPECT_EQ(maxTimeFor(watch, settings.localUrl), "44");

    // Without a key or a model neither is sent: llama-server and vLLM serve one model unasked.
    settings.localKey.clear();
    settings.localModel.clear();
    EXPECT_EQ(polishViaLocalModel("fix the login", 30, "Be brief.", settings), "Done.");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0]["headers"]["authorization"], "Bearer local-secret-3e9a");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/json");
    const json messages = {{{"role", "system"}, {"content", "Be brief."}},
                           {{"role", "user"}, {"content", "fix the login"}}};
    EXPECT_EQ(bodyOf(requests[0]), json({{"model", "qwen2.5:7b"},
                                         {"messages", messages},
                                         {"temperature", 0.2},
                                         {"stream", false}}));
    EXPECT_FALSE(requests[1]["headers"].contains("authorization"));
    EXPECT_EQ(bodyOf(requests[1]),
              json({{"messages", messages}, {"temperature", 0.2}, {"stream", false}}));

    settings.localUrl.clear(); // not configured: no request at all
    EXPECT_EQ(polishViaLocalModel("fix the login", 30, "Be brief.", settings), std::nullopt);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(Providers, ALocalModelThatFailsHangsOrStreamsGarbageYieldsNothingInTime) {
    settings.localUrl = server.url("/v1/chat/completions");
    const std::vector<std::pair<std::string, std::optional<std::string>>> answers = {
        {R"({"choices":[{"message":{"content":"<think>\nshorter?\n</think>\n\nDone."}}]})",
         "\n\nDone."},
        {R"({"choices":[{"message":{"content":"Done <think>aloud</think>."}}]})",
         "Done <think>aloud</think>."},
        {R"({"choices":[{"message":{"content":"<think>\nstill thinking when cut off"}}]})",
         std::nullopt},
        {R"({"error":{"message":"model 'llama3' not found, try pulling it first"}})", std::nullopt},
        {R"({"object":"chat.completion.chunk","choices":[{"delta":{"content":"Do"}}]})",
         std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [body, expected] : answers) {
        server.answer("completions", body);
        EXPECT_EQ(polishViaLocalModel("text", 30, "Be brief.", settings), expected) << body;
    }
    server.streamGarbage("completions", 0.3);
    EXPECT_EQ(polishViaLocalModel("text", 30, "Be brief.", settings), std::nullopt);

    // A server that never answers, or never stops streaming, is abandoned at the time limit.
    for (const bool hang : {true, false}) {
        if (hang) {
            server.answer("completions", R"({"choices":[{"message":{"content":"Late."}}]})", 6);
        } else {
            server.streamGarbage("completions", 6);
        }
        const auto start = SteadyClock::now();
        EXPECT_EQ(polishViaLocalModel("text", 1.8, "Be brief.", settings), std::nullopt);
        EXPECT_LT(secondsSince(start), 2.5) << (hang ? "hang" : "garbage");
    }
    settings.localUrl = test::deadUrl("/v1/chat/completions");
    EXPECT_EQ(polishViaLocalModel("text", 30, "Be brief.", settings), std::nullopt);
}

TEST_F(Providers, AKeyThatWouldBreakTheHeaderOrABodyThatCannotBeWrittenSendsNothing) {
    server.answer("messages", R"({"content":[{"text":"Done."}]})");
    settings.polishKey = "sk-ant-one\r\nx-injected: yes";
    EXPECT_EQ(polishViaAPI("text", 30, "Be brief.", settings), std::nullopt);
    settings.polishKey = "sk-ant-1";
    settings.scratch = ScratchFiles(home.file("missing-folder"));
    EXPECT_EQ(polishViaAPI("text", 30, "Be brief.", settings), std::nullopt);
    settings.scratch = ScratchFiles(scratch.file("bodies"));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Providers, TheProxyNeedsACredentialSendsItInTheBodyAndLogsARefusalOnOneLine) {
    server.answer("polish", R"({"text":"Proxied."})");
    EXPECT_EQ(polishViaProxy("some words", 30, "summarize", settings), std::nullopt);
    EXPECT_TRUE(server.requests().empty());

    settings.proxyToken = "proxy-cred-91";
    EXPECT_EQ(polishViaProxy("some words", 30, "command", settings), "Proxied.");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["path"], "/api/polish");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/json");
    EXPECT_EQ(bodyOf(requests[0]),
              json({{"mode", "command"}, {"text", "some words"}, {"token", "proxy-cred-91"}}));

    test::LogCapture log;
    server.answer("polish", R"({"error":"quota\nexceeded","text":"ignored"})");
    EXPECT_EQ(polishViaProxy("some words", 30, "professional", settings), std::nullopt);
    EXPECT_NE(log.text().find("· proxy rewrite unavailable (quota exceeded)\n"), std::string::npos)
        << log.text();
    for (const char* body :
         {R"({"result":"no text field"})", R"(["text"])", "<html>502</html>", R"({"text":17})"}) {
        server.answer("polish", body);
        EXPECT_EQ(polishViaProxy("some words", 30, "professional", settings), std::nullopt) << body;
    }
    settings.proxyUrl = test::deadUrl("/api/polish");
    EXPECT_EQ(polishViaProxy("some words", 30, "professional", settings), std::nullopt);
}

TEST_F(Providers, AProxyTokenIsReadOnlyFromTheUsersOwnFileAndALinkedOneIsNeverChanged) {
    const std::string path = proxyTokenPath(home.path());
    std::filesystem::create_directories(home.file(".dictation"));
    const std::string own = home.file("dotfiles-token");
    const std::string foreign = home.file("foreign-token");
    writeFixture(own, "own-cred\n");
    writeFixture(foreign, "foreign-cred\n");
    ::chmod(own.c_str(), 0644);
    const bool foreignOwned = ::chown(foreign.c_str(), 65534, 65534) == 0 && ::geteuid() == 0;

    std::filesystem::create_symlink(own, path);
    EXPECT_EQ(readProxyToken(path), "own-cred");
    // The target belongs to the dotfile manager's user: reported, never chmod-ed.
    EXPECT_EQ(filePermissions(own), 0644u);

    std::filesystem::remove(path);
    std::filesystem::create_symlink(foreign, path);
    if (foreignOwned) {
        EXPECT_EQ(readProxyToken(path), "");
    }

    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(readProxyToken(path), ""); // and does not block
}

TEST_F(Providers, OnlyTheDocumentedAnswerShapesYieldText) {
    settings.polishKey = "sk-ant-1";
    const std::vector<std::pair<std::string, std::optional<std::string>>> anthropic = {
        {R"({"content":[{"type":"text","text":" Spaced. "},{"text":"second"}]})", " Spaced. "},
        {R"({"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}})",
         std::nullopt},
        {R"({"content":[]})", std::nullopt},
        {R"({"content":"Done."})", std::nullopt},
        {R"({"content":[{"type":"tool_use"}]})", std::nullopt},
        {R"({"content":["Done."]})", std::nullopt},
        {R"([{"content":[{"text":"Done."}]}])", std::nullopt},
        {"Internal Server Error", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [body, expected] : anthropic) {
        server.answer("messages", body);
        EXPECT_EQ(polishViaAPI("text", 30, "Be brief.", settings), expected) << body;
    }

    settings.polishKey = "gsk_1";
    const std::vector<std::pair<std::string, std::optional<std::string>>> groq = {
        {R"({"choices":[{"message":{"content":"Done."}},{"message":{"content":"x"}}]})", "Done."},
        {R"({"error":{"message":"Invalid API Key"}})", std::nullopt},
        {R"({"choices":[]})", std::nullopt},
        {R"({"choices":[{"text":"Done."}]})", std::nullopt},
        {R"({"choices":[{"message":{"content":null}}]})", std::nullopt},
        {R"({"choices":{"message":{"content":"Done."}}})", std::nullopt},
        {"not json", std::nullopt},
    };
    for (const auto& [body, expected] : groq) {
        server.answer("chat", body);
        EXPECT_EQ(polishViaGroq("text", 30, "Be brief.", settings), expected) << body;
    }
}

TEST_F(Providers, AServerThatNeverAnswersIsAbandonedAtTheTimeLimit) {
    settings.polishKey = "sk-ant-1";
    server.answer("messages", R"({"content":[{"text":"Too late."}]})", 6);
    const auto start = SteadyClock::now();
    EXPECT_EQ(polishViaAPI("text", 1.8, "Be brief.", settings), std::nullopt);
    EXPECT_LT(secondsSince(start), 2.5);
}

TEST_F(Providers, TheClaudeToolGetsTheTextOnStandardInput) {
    EXPECT_EQ(polishViaClaudeCLI("text", 30, "Be brief.", settings), std::nullopt); // not there

    auto& tool = installClaude();
    tool.answer("\n  Rewritten.  \n");
    EXPECT_EQ(polishViaClaudeCLI("fix the login\n", 30, "Be brief.", settings),
              "\n  Rewritten.  \n");
    const auto calls = tool.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["args"], json({"--model", "claude-test-model", "-p", "Be brief."}));
    EXPECT_EQ(calls[0]["stdin"], "fix the login\n");
    EXPECT_TRUE(calls[0]["valid"]);

    tool.setControl("exit=1");
    EXPECT_EQ(polishViaClaudeCLI("text", 30, "Be brief.", settings), std::nullopt);
    tool.setControl("exit=0");
    tool.answer("caf\xe9");
    EXPECT_EQ(polishViaClaudeCLI("text", 30, "Be brief.", settings), std::nullopt);
}

TEST_F(Providers, AClaudeToolThatHangsIsStoppedAtTheTimeLimit) {
    installClaude().setControl("mode=hang");
    const auto start = SteadyClock::now();
    EXPECT_EQ(polishViaClaudeCLI("text", 1, "Be brief.", settings), std::nullopt);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 2.5);
    EXPECT_EQ(test::childProcesses(), std::vector<pid_t>{server.pid()}); // the tool is gone
}

TEST_F(Providers, ConcurrentCallsWriteTheirBodiesToSeparatePrivateFiles) {
    settings.polishKey = "sk-ant-1";
    settings.proxyToken = "proxy-cred-91";
    server.answer("messages", R"({"content":[{"text":"From the API."}]})", 0.8);
    server.answer("polish", R"({"text":"From the proxy."})", 0.8);

    std::optional<std::string> api;
    std::optional<std::string> proxy;
    std::thread first([&] { api = polishViaAPI("first", 30, "Be brief.", settings); });
    std::thread second([&] { proxy = polishViaProxy("second", 30, "command", settings); });
    // While both are in flight, each body sits in a private file of its own.
    std::set<std::pair<std::string, mode_t>> inFlight;
    for (const auto start = SteadyClock::now(); inFlight.size() < 2 && secondsSince(start) < 5;) {
        inFlight.clear();
        for (const auto& name : scratchFiles()) {
            struct stat st {};
            if (::stat(settings.scratch.path(name).c_str(), &st) == 0)
                inFlight.emplace(name, st.st_mode & 0777);
        }
    }
    first.join();
    second.join();

    EXPECT_EQ(api, "From the API.");
    EXPECT_EQ(proxy, "From the proxy.");
    ASSERT_EQ(inFlight.size(), 2u);
    for (const auto& [name, mode] : inFlight)
        EXPECT_EQ(mode, 0600u) << name;
    // The bodies the server got are the two calls' own.
    std::vector<std::string> texts;
    for (const auto& request : server.requests()) {
        const auto body = bodyOf(request);
        texts.push_back(body.contains("text") ? body["text"].get<std::string>()
                                              : body["messages"][0]["content"].get<std::string>());
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"Be brief.\n\nTranscript:\nfirst", "second"}));
}

} // namespace
} // namespace vak
