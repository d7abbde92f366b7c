#include "base/time_util.h"
#include "decode_fixture.h"
#include "transcribe/cloud_client.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

class CloudClient : public test::DecodeTest {};

TEST_F(CloudClient, SendsTheRecordingWithPlatformLanguageAndPromptAsTheyAre) {
    const std::string wav = clip("take;2.wav", 1); // ";" must not split curl's file field
    settings.config.language = "es";
    settings.prompt = "@names.txt;type=text/plain"; // text, never a file to upload
    server.answer("transcribe", R"({"text":" Hola.","duration":1.0})");
    EXPECT_EQ(runWhisperViaCloud(wav, 10, settings), " Hola.");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["path"], "/transcribe");
    const nlohmann::json fields = {
        {"platform", "linux"}, {"language", "es"}, {"prompt", settings.prompt}};
    EXPECT_EQ(requests[0]["fields"], fields);
    EXPECT_EQ(requests[0]["files"]["file"]["filename"], "take;2.wav");
    EXPECT_EQ(requests[0]["files"]["file"]["size"], 44 + 32000);
}

TEST_F(CloudClient, OnlyANonEmptyTextCountsAndOffMeansNoRequest) {
    const std::string wav = clip("a.wav", 1);
    const std::vector<std::pair<std::string, std::optional<std::string>>> answers = {
        {R"({"text":"Fine."})", "Fine."},
        {R"({"text":""})", std::nullopt},
        {R"([{"text":"in an array"}])", std::nullopt},
        {R"({"error":"unauthorised"})", std::nullopt},
        {R"({"text":null})", std::nullopt},
        {"<html>Bad Gateway</html>", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [body, expected] : answers) {
        server.answer("transcribe", body);
        EXPECT_EQ(runWhisperViaCloud(wav, 10, settings), expected) << body;
    }
    settings.config.transcribeUrl = test::deadUrl("/transcribe");
    EXPECT_EQ(runWhisperViaCloud(wav, 10, settings), std::nullopt);

    settings.config.transcribeUrl = server.url("/transcribe");
    server.answer("transcribe", R"({"text":"Should not be asked."})");
    settings.config.cloud = false;
    EXPECT_EQ(runWhisperViaCloud(wav, 10, settings), std::nullopt);
    EXPECT_EQ(server.requests().size(), answers.size());
}

TEST_F(CloudClient, TheTimeLimitIsTruncatedToWholeSeconds) {
    // A limit of 1.9 s reaches curl as 1 s: a 3-second answer is abandoned after about a second.
    server.answer("transcribe", R"({"text":"Too late."})", 3);
    const auto start = SteadyClock::now();
    EXPECT_EQ(runWhisperViaCloud(clip("a.wav", 1), 1.9, settings), std::nullopt);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), 1.7);
}

} // namespace
} // namespace vak
