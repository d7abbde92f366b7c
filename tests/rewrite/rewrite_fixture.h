#pragma once

#include "rewrite/rewrite_settings.h"
#include "support/rewrite_fakes.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak::test {

// The paths the server was asked for, in order, with "claude" for each call of the tool.
inline std::vector<std::string> providerCalls(const FakeSpeechServer& server,
                                              const FakeClaude* claude) {
    std::vector<std::string> calls;
    for (const auto& request : server.requests())
        calls.push_back(request["path"]);
    for (std::size_t i = 0; claude && i < claude->calls().size(); ++i)
        calls.emplace_back("claude");
    return calls;
}

// A recorded request's body, parsed.
inline nlohmann::json bodyOf(const nlohmann::json& request) {
    return nlohmann::json::parse(request["body"].get<std::string>());
}

// Settings pointing every provider at one fake server; no proxy credential, no key and no claude
// tool unless a test adds them. Every test ends with the scratch folder empty: no request body
// may outlive its call.
class RewriteTest : public testing::Test {
  protected:
    RewriteTest() {
        std::filesystem::create_directories(scratch.file("bodies"));
        settings.proxyUrl = server.url("/api/polish");
        settings.anthropicUrl = server.url("/v1/messages");
        settings.groqUrl = server.url("/openai/v1/chat/completions");
        settings.claudeTool = home.file(".local/bin/claude");
        settings.polishModel = "claude-test-model";
        settings.scratch = ScratchFiles(scratch.file("bodies"));
    }
    void TearDown() override { EXPECT_EQ(scratchFiles(), std::vector<std::string>{}); }

    FakeClaude& installClaude() {
        claude = std::make_unique<FakeClaude>(home.path());
        return *claude;
    }
    std::vector<std::string> scratchFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(settings.scratch.dir()))
            names.push_back(entry.path().filename());
        return names;
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
