#include "base/files.h"
#include "base/time_util.h"
#include "rewrite/providers.h"
#include "rewrite_fixture.h"

#include <algorithm>
#include <functional>
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
using Answer = std::optional<std::string>;

class Providers : public test::RewriteTest {};

// Each keyed provider's request as its service documents it, the key only on the wire (never
// on a command line) and curl's time limit in whole seconds.
TEST_F(Providers, EachProviderGetsItsDocumentedRequestAndNoProcessShowsTheKey) {
    settings.localUrl = server.url("/v1/chat/completions");
    settings.localModel = "qwen2.5:7b";
    const json messages = {{{"role", "system"}, {"content", "Be brief."}},
                           {{"role", "user"}, {"content", "fix the login"}}};
    const struct {
        std::function<Answer(double)> call;
        std::string* key;
        std::string keyValue, url, answerPath, answer, header, headerValue;
        json body;
    } cases[] = {
        {[&](double t) { return polishViaAPI("fix the login", t, "Be brief.", settings); },
         &settings.polishKey, "sk-ant-secret-5f1c\"quoted\\", settings.anthropicUrl, "messages",
         R"({"content":[{"type":"text","text":"Done."}]})", "x-api-key",
         "sk-ant-secret-5f1c\"quoted\\",
         json({{"model", "claude-test-model"},
               {"max_tokens", 16000},
               {"messages",
                {{{"role", "user"}, {"content", "Be brief.\n\nTranscript:\nfix the login"}}}}})},
        {[&](double t) { return polishViaGroq("fix the login", t, "Be brief.", settings); },
         &settings.polishKey, "gsk_secret_7d2e", settings.groqUrl, "chat",
         R"({"choices":[{"message":{"role":"assistant","content":"Done."}}]})", "authorization",
         "Bearer gsk_secret_7d2e",
         json({{"model", "llama-3.3-70b-versatile"},
               {"max_tokens", 8192},
               {"temperature", 0.2},
               {"messages", messages}})},
        {[&](double t) { return polishViaLocalModel("fix the login", t, "Be brief.", settings); },
         &settings.localKey, "local-secret-3e9a", settings.localUrl, "completions",
         R"({"choices":[{"message":{"content":"Done."}}]})", "authorization",
         "Bearer local-secret-3e9a",
         json({{"model", "qwen2.5:7b"},
               {"messages", messages},
               {"temperature", 0.2},
               {"stream", false}})},
    };
    std::size_t seen = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        *c.key = c.keyValue;
        server.answer(c.answerPath, c.answer, 0.4);
        test::CommandLineWatch watch;
        EXPECT_EQ(c.call(42.9), "Done.");
        watch.stop();
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), ++seen);
        const auto& request = requests.back();
        EXPECT_EQ(request["method"], "POST");
        EXPECT_EQ(c.url, server.url(request["path"].get<std::string>()));
        EXPECT_EQ(request["headers"][c.header], c.headerValue);
        EXPECT_EQ(request["headers"]["content-type"], "application/json");
        EXPECT_EQ(bodyOf(request), c.body);
        EXPECT_TRUE(watch.commandsContaining(c.keyValue.substr(0, 8)).empty());
        const auto curls = watch.commandsContaining(c.url);
        ASSERT_EQ(curls.size(), 1u);
        EXPECT_EQ(curls[0][0], "/usr/bin/curl");
        EXPECT_EQ(maxTimeFor(watch, c.url), "42");
        *c.key = "";
    }
    // Without a key or a model neither is sent: llama-server and vLLM serve one model unasked.
    settings.localModel.clear();
    EXPECT_EQ(polishViaLocalModel("fix the login", 30, "Be brief.", settings), "Done.");
    const auto last = server.requests().back();
    EXPECT_FALSE(last["headers"].contains("authorization"));
    EXPECT_EQ(bodyOf(last),
              json({{"messages", messages}, {"temperature", 0.2}, {"stream", false}}));
    settings.localUrl.clear(); // not configured: no request at all
    EXPECT_EQ(polishViaLocalModel("fix the login", 30, "Be brief.", settings), std::nullopt);
    EXPECT_EQ(server.requests().size(), seen + 1);
}

TEST_F(Providers, OnlyTheDocumentedAnswerShapesYieldText) {
    settings.polishKey = "sk-ant-1";
    settings.localUrl = server.url("/v1/chat/completions");
    const auto api = [&] { return polishViaAPI("text", 30, "Be brief.", settings); };
    const auto groq = [&] { return polishViaGroq("text", 30, "Be brief.", settings); };
    const auto local = [&] { return polishViaLocalModel("text", 30, "Be brief.", settings); };
    const struct {
        std::function<Answer()> call;
        const char* path;
        std::string body;
        Answer expected;
    } cases[] = {
        {api, "messages", R"({"content":[{"type":"text","text":" Spaced. "},{"text":"second"}]})",
         " Spaced. "},
        {api, "messages", R"({"type":"error","error":{"type":"overloaded_error"}})", {}},
        {api, "messages", R"({"content":[]})", {}},
        {api, "messages", R"({"content":"Done."})", {}},
        {api, "messages", R"({"content":[{"type":"tool_use"}]})", {}},
        {api, "messages", R"([{"content":[{"text":"Done."}]}])", {}},
        {api, "messages", "Internal Server Error", {}},
        {groq, "chat", R"({"choices":[{"message":{"content":"Done."}},{"message":{}}]})", "Done."},
        {groq, "chat", R"({"error":{"message":"Invalid API Key"}})", {}},
        {groq, "chat", R"({"choices":[]})", {}},
        {groq, "chat", R"({"choices":[{"text":"Done."}]})", {}},
        {groq, "chat", R"({"choices":[{"message":{"content":null}}]})", {}},
        {groq, "chat", R"({"choices":{"message":{"content":"Done."}}})", {}},
        {local, "completions",
         R"({"choices":[{"message":{"content":"<think>\nshorter?\n</think>\n\nDone."}}]})",
         "\n\nDone."},
        {local, "completions", R"({"choices":[{"message":{"content":"Done <think>a</think>."}}]})",
         "Done <think>a</think>."},
        {local, "completions", R"({"choices":[{"message":{"content":"<think>\ncut off"}}]})", {}},
        {local,
         "completions",
         R"({"object":"chat.completion.chunk","choices":[{"delta":{}}]})",
         {}},
        {local, "completions", "", {}},
    };
    for (const auto& c : cases) {
        server.answer(c.path, c.body);
        EXPECT_EQ(c.call(), c.expected) << c.body;
    }
    server.streamGarbage("completions", 0.3);
    EXPECT_EQ(local(), std::nullopt);
    settings.localUrl = test::deadUrl("/v1/chat/completions");
    EXPECT_EQ(local(), std::nullopt);
}

TEST_F(Providers, AServerThatHangsOrStreamsForeverIsAbandonedAtTheTimeLimit) {
    settings.polishKey = "sk-ant-1";
    settings.localUrl = server.url("/v1/chat/completions");
    for (const bool hang : {true, false}) {
        if (hang) {
            server.answer("messages", R"({"content":[{"text":"Too late."}]})", 6);
        } else {
            server.streamGarbage("completions", 6);
        }
        const auto start = SteadyClock::now();
        EXPECT_EQ(hang ? polishViaAPI("text", 1.8, "Be brief.", settings)
                       : polishViaLocalModel("text", 1.8, "Be brief.", settings),
                  std::nullopt);
        EXPECT_LT(secondsSince(start), 2.5) << (hang ? "hang" : "garbage");
    }
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
    // A long refusal is cut for the log.
    server.answer("polish", R"({"error":")" + std::string(300, 'x') + R"("})");
    EXPECT_EQ(polishViaProxy("some words", 30, "professional", settings), std::nullopt);
    EXPECT_NE(log.text().find(std::string(200, 'x') + "…)"), std::string::npos);
    EXPECT_EQ(log.text().find(std::string(201, 'x')), std::string::npos);
    for (const char* body :
         {R"({"result":"no text field"})", "<html>502</html>", R"({"text":17})"}) {
        server.answer("polish", body);
        EXPECT_EQ(polishViaProxy("some words", 30, "professional", settings), std::nullopt) << body;
    }
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

TEST_F(Providers, TheClaudeToolGetsTheTextOnStandardInputAndIsStoppedAtTheTimeLimit) {
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

    tool.setControl("mode=hang");
    const auto start = SteadyClock::now();
    EXPECT_EQ(polishViaClaudeCLI("text", 1, "Be brief.", settings), std::nullopt);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), 2.5);
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
