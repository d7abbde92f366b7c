#include "base/files.h"
#include "base/time_util.h"
#include "rewrite/providers.h"
#include "rewrite_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using nlohmann::json;
using test::bodyOf;
using test::writeFixture;
using Answer = std::optional<std::string>;

class Providers : public test::RewriteTest {
  protected:
    // The provider that posts to a path ending in `route`.
    Answer ask(std::string_view route, double seconds = 30, const char* text = "fix the login") {
        if (route == "polish") return polishViaProxy(text, seconds, "command", settings);
        if (route == "messages") return polishViaAPI(text, seconds, "Be brief.", settings);
        if (route == "chat") return polishViaGroq(text, seconds, "Be brief.", settings);
        return polishViaLocalModel(text, seconds, "Be brief.", settings);
    }
};

// Each keyed provider's request as its service documents it, the key only on the wire (never
// on a command line) and curl's time limit in whole seconds.
TEST_F(Providers, EachProviderGetsItsDocumentedRequestAndNoProcessShowsTheKey) {
    settings.localUrl = server.url("/v1/chat/completions");
    settings.localModel = "qwen2.5:7b";
    const json messages = {{{"role", "system"}, {"content", "Be brief."}},
                           {{"role", "user"}, {"content", "fix the login"}}};
    const json anthropic = {
        {{"role", "user"}, {"content", "Be brief.\n\nTranscript:\nfix the login"}}};
    const struct {
        const char* route;
        std::string* key;
        std::string keyValue, url, answer, header, headerValue;
        json body;
    } cases[] = {
        {"messages", &settings.polishKey, "sk-ant-secret-5f1c\"quoted\\", settings.anthropicUrl,
         R"({"content":[{"type":"text","text":"Done."}]})", "x-api-key",
         "sk-ant-secret-5f1c\"quoted\\",
         json({{"model", "claude-test-model"}, {"max_tokens", 16000}, {"messages", anthropic}})},
        {"chat", &settings.polishKey, "gsk_secret_7d2e", settings.groqUrl,
         R"({"choices":[{"message":{"role":"assistant","content":"Done."}}]})", "authorization",
         "Bearer gsk_secret_7d2e",
         json({{"model", "llama-3.3-70b-versatile"},
               {"max_tokens", 8192},
               {"temperature", 0.2},
               {"messages", messages}})},
        {"completions", &settings.localKey, "local-secret-3e9a", settings.localUrl,
         R"({"choices":[{"message":{"content":"Done."}}]})", "authorization",
         "Bearer local-secret-3e9a",
         json({{"model", "qwen2.5:7b"},
               {"messages", messages},
               {"temperature", 0.2},
               {"stream", false}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        *c.key = c.keyValue;
        server.answer(c.route, c.answer, 0.4);
        test::CommandLineWatch watch;
        EXPECT_EQ(ask(c.route, 42.9), "Done.");
        watch.stop();
        const auto request = server.requests().back();
        EXPECT_EQ(c.url, server.url(request["path"].get<std::string>()));
        EXPECT_EQ(request["headers"][c.header], c.headerValue);
        EXPECT_EQ(request["headers"]["content-type"], "application/json");
        EXPECT_EQ(bodyOf(request), c.body);
        EXPECT_TRUE(watch.commandsContaining(c.keyValue.substr(0, 8)).empty());
        EXPECT_EQ(watch.commandsContaining(c.url).at(0).at(0), "/usr/bin/curl");
        EXPECT_EQ(test::maxTimeFor(watch, c.url), "42");
        *c.key = "";
    }
    // Without a key or a model neither is sent: llama-server and vLLM serve one model unasked.
    settings.localModel.clear();
    EXPECT_EQ(ask("completions"), "Done.");
    const auto last = server.requests().back();
    EXPECT_FALSE(last["headers"].contains("authorization"));
    EXPECT_EQ(bodyOf(last),
              json({{"messages", messages}, {"temperature", 0.2}, {"stream", false}}));
    settings.localUrl.clear(); // not configured: no request at all
    EXPECT_EQ(ask("completions"), std::nullopt);
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(Providers, OnlyTheDocumentedAnswerShapesYieldText) {
    settings.polishKey = "sk-ant-1";
    settings.proxyToken = "proxy-cred-91";
    settings.localUrl = server.url("/v1/chat/completions");
    const struct {
        const char* route;
        std::string body;
        Answer expected;
    } cases[] = {
        {"messages", R"({"content":[{"type":"text","text":" Spaced. "},{"text":"2"}]})",
         " Spaced. "},
        {"messages", R"({"type":"error","error":{"type":"overloaded_error"}})", {}},
        {"chat", R"({"choices":[{"message":{"content":"Done."}},{"message":{}}]})", "Done."},
        {"chat", R"({"choices":[]})", {}},
        {"completions", R"({"choices":[{"message":{"content":"<think>\nx?\n</think>\n\nDone."}}]})",
         "\n\nDone."},
        {"completions", R"({"choices":[{"message":{"content":"Done <think>a</think>."}}]})",
         "Done <think>a</think>."},
        {"completions", R"({"choices":[{"message":{"content":"<think>\ncut off"}}]})", {}},
        {"completions", "", {}},
        {"polish", "<html>502</html>", {}},
        {"polish", R"({"text":17})", {}},
    };
    for (const auto& c : cases) {
        server.answer(c.route, c.body);
        EXPECT_EQ(ask(c.route), c.expected) << c.body;
    }
    server.streamGarbage("completions", 0.3);
    EXPECT_EQ(ask("completions"), std::nullopt);
    settings.localUrl = test::deadUrl("/v1/chat/completions");
    EXPECT_EQ(ask("completions"), std::nullopt);
}

TEST_F(Providers, AKeyThatWouldBreakTheHeaderOrABodyThatCannotBeWrittenSendsNothing) {
    server.answer("messages", R"({"content":[{"text":"Done."}]})");
    settings.polishKey = "sk-ant-one\r\nx-injected: yes";
    EXPECT_EQ(ask("messages"), std::nullopt);
    settings.polishKey = "sk-ant-1";
    settings.scratch = ScratchFiles(home.file("missing-folder"));
    EXPECT_EQ(ask("messages"), std::nullopt);
    settings.scratch = ScratchFiles(scratch.file("bodies"));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Providers, TheProxyNeedsACredentialSendsItInTheBodyAndLogsARefusalOnOneLine) {
    server.answer("polish", R"({"text":"Proxied."})");
    EXPECT_EQ(ask("polish"), std::nullopt);
    EXPECT_TRUE(server.requests().empty());
    settings.proxyToken = "proxy-cred-91";
    EXPECT_EQ(ask("polish"), "Proxied.");
    const auto request = server.requests().at(0);
    EXPECT_EQ(request["path"], "/api/polish");
    EXPECT_EQ(bodyOf(request),
              json({{"mode", "command"}, {"text", "fix the login"}, {"token", "proxy-cred-91"}}));
    test::LogCapture log;
    server.answer("polish", R"({"error":"quota\nexceeded","text":"ignored"})");
    EXPECT_EQ(ask("polish"), std::nullopt);
    EXPECT_NE(log.text().find("· proxy rewrite unavailable (quota exceeded)\n"), std::string::npos);
    // A long refusal is cut for the log.
    server.answer("polish", R"({"error":")" + std::string(300, 'x') + R"("})");
    EXPECT_EQ(ask("polish"), std::nullopt);
    EXPECT_NE(log.text().find(std::string(200, 'x') + "…)"), std::string::npos);
    EXPECT_EQ(log.text().find(std::string(201, 'x')), std::string::npos);
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
    EXPECT_EQ(readProxyToken(path), foreignOwned ? "" : "foreign-cred");
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(readProxyToken(path), ""); // and does not block
}

TEST_F(Providers, TheClaudeToolGetsTheTextOnStandardInputAndIsStoppedAtTheTimeLimit) {
    auto& tool = installClaude();
    tool.answer("\n  Rewritten.  \n");
    EXPECT_EQ(polishViaClaudeCLI("fix the login\n", 30, "Be brief.", settings),
              "\n  Rewritten.  \n");
    const auto call = tool.calls().at(0);
    EXPECT_EQ(call["args"], json({"--model", "claude-test-model", "-p", "Be brief."}));
    EXPECT_EQ(call["stdin"], "fix the login\n");
    EXPECT_TRUE(call["valid"]);

    tool.answer("caf\xe9");
    EXPECT_EQ(polishViaClaudeCLI("text", 30, "Be brief.", settings), std::nullopt);

    tool.setControl("mode=hang");
    const auto start = SteadyClock::now();
    EXPECT_EQ(polishViaClaudeCLI("text", 1, "Be brief.", settings), std::nullopt);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_EQ(test::childProcesses(), std::vector<pid_t>{server.pid()}); // the tool is gone
}

} // namespace
} // namespace vak
