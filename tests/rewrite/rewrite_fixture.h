#pragma once

#include "rewrite/rewrite_settings.h"
#include "support/rewrite_fakes.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace vak::test {

// The paths the server was asked for, in order, with "claude" for each call of the tool.
inline std::vector<std::string> providerCalls(const FakeSpeechServer& server,
                                              const FakeClaude* claude) {
    std::vector<std::string> calls;
    for (const auto& request : server.requests())
        calls.push_back(request["path"]);
    calls.resize(calls.size() + (claude ? claude->calls().size() : 0), "claude");
    return calls;
}

inline nlohmann::json bodyOf(const nlohmann::json& request) {
    return nlohmann::json::parse(request["body"].get<std::string>());
}

inline void pointAt(RewriteSettings& settings, const FakeSpeechServer& server) {
    settings.proxyUrl = server.url("/api/polish");
    settings.anthropicUrl = server.url("/v1/messages");
    settings.groqUrl = server.url("/openai/v1/chat/completions");
}

// Every provider pointed at one fake server, without a credential, key or claude tool unless a
// test adds them. No request body may outlive its call.
class RewriteTest : public testing::Test {
  protected:
    RewriteTest() {
        std::filesystem::create_directories(scratch.file("bodies"));
        pointAt(settings, server);
        settings.claudeTool = home.file(".local/bin/claude");
        settings.polishModel = "claude-test-model";
        settings.scratch = ScratchFiles(scratch.file("bodies"));
    }
    void TearDown() override { EXPECT_TRUE(std::filesystem::is_empty(settings.scratch.dir())); }

    FakeClaude& installClaude() {
        claude = std::make_unique<FakeClaude>(home.path());
        return *claude;
    }
    std::vector<std::string> providerCalls() const {
        return test::providerCalls(server, claude.get());
    }

    TempDir home;
    TempDir scratch;
    FakeSpeechServer server;
    std::unique_ptr<FakeClaude> claude;
    RewriteSettings settings;
};

} // namespace vak::test
