#include "base/files.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "decode_fixture.h"
#include "support/expect_contains.h"
#include "transcribe/cloud_client.h"
#include "transcribe/decode_router.h"

#include <thread>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;
using test::writeFixture;

class DecodeRouting : public test::DecodeTest {
  protected:
    DecodeRouting() {
        whisper.setTranscript("Local words.");
        server.answer("inference", R"({"text":"Server words."})");
        server.answer("transcribe", R"({"text":"Cloud words."})");
        settings.config.useServer = false; // whisper-cli stands for the local path
    }
    std::optional<std::string> decode(const std::string& wav,
                                      DecodeRoute route = DecodeRoute::Auto) {
        return runWhisper({wav, work.file("out"), route}, settings);
    }
};

// Every branch but the race (below): which engines are asked, what comes back, what is logged.
TEST_F(DecodeRouting, EachRouteAsksOnlyTheEnginesItShould) {
    using enum DecodeRoute;
    struct Case {
        const char* name;
        bool cloud;
        bool localModel;
        DecodeRoute route;
        std::optional<std::string> text;
        std::size_t localCalls;
        std::size_t cloudCalls;
        const char* logged;
    };
    const Case cases[] = {
        {"cloud off", false, true, Auto, "Local words.", 1, 0, ""},
        {"cloud off, chunk", false, true, CloudPreferred, "Local words.", 1, 0, ""},
        {"speculative", true, true, LocalOnly, "Local words.", 1, 0, ""},
        // No race: the local engine is not even started.
        {"chunk", true, true, CloudPreferred, "Cloud words.", 0, 1, "☁ cloud engine decode"},
        {"no local model", true, false, Auto, "Cloud words.", 0, 1, "☁ cloud engine decode"},
        {"no engine", false, false, Auto, std::nullopt, 0, 0,
         "‼️ no transcription engine available"},
    };
    const std::string wav = clip("a.wav", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.config.cloud = c.cloud;
        settings.whisperCli = c.localModel ? whisper.path() : work.file("no-whisper-cli");
        const auto localBefore = whisper.calls().size();
        const auto cloudBefore = requestsTo("/transcribe");
        const LogCapture log;
        const auto trail = std::make_shared<DecodeTrail>();
        EXPECT_EQ(runWhisper({wav, work.file("out"), c.route, trail}, settings), c.text);
        EXPECT_EQ(trail->cloud.load(), c.text == "Cloud words.");
        EXPECT_EQ(trail->local.load(), c.text == "Local words.");
        EXPECT_EQ(whisper.calls().size() - localBefore, c.localCalls);
        EXPECT_EQ(requestsTo("/transcribe") - cloudBefore, c.cloudCalls);
        EXPECT_CONTAINS(log.text(), c.logged);
    }
}

TEST_F(DecodeRouting, AnUnreachableEngineIsLeftOutForAMinuteWhereALocalOneCanStandIn) {
    double now = 1000;
    settings.cloudReachability = std::make_shared<CloudReachability>([&now] { return now; });
    const std::string live = server.url("/transcribe");
    const std::string dead = test::deadUrl("/transcribe");
    const std::string wav = clip("a.wav", 1);
    LogCapture log;
    const auto pauses = [&log] {
        return regexAllMatches(log.text(),
                               "☁ cloud engine at 127\\.0\\.0\\.1:\\d+ could not be reached — "
                               "left out for a minute wherever local decoding can stand in\n")
            .size();
    };
    settings.config.transcribeUrl = dead;
    EXPECT_EQ(decode(wav), "Local words.");
    ASSERT_TRUE(waitForDecodeEngines(10)); // the cloud's failure may come after the local's win

    // For the next minute no decode asks it, though it would answer now.
    settings.config.transcribeUrl = live;
    now += 59;
    EXPECT_EQ(decode(wav), "Local words.");
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Local words.");
    EXPECT_EQ(requestsTo("/transcribe"), 0u);
    now += 1;
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Cloud words.");

    // Without a local engine a pause changes nothing: the cloud is the only one to ask.
    settings.config.transcribeUrl = dead;
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Local words.");
    settings.config.transcribeUrl = live;
    settings.whisperCli = work.file("no-whisper-cli");
    EXPECT_EQ(decode(wav), "Cloud words.");
    EXPECT_EQ(pauses(), 2u) << log.text();
}

// A chunk decode waiting for the cloud must not turn a full decode running beside it into one
// that skips the race.
TEST_F(DecodeRouting, AChunksRouteStaysWithItsOwnDecode) {
    server.answer("transcribe", R"({"text":"Cloud words."})", 0.6);
    const std::string wav = clip("a.wav", 1);
    LogCapture log;
    std::optional<std::string> chunk;
    std::thread chunkDecode([&] {
        chunk = runWhisper({wav, work.file("chunk"), DecodeRoute::CloudPreferred}, settings);
    });
    while (requestsTo("/transcribe") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto trail = std::make_shared<DecodeTrail>();
    EXPECT_EQ(runWhisper({wav, work.file("full"), DecodeRoute::Auto, trail}, settings),
              "Local words.");
    EXPECT_TRUE(trail->local.load() && !trail->cloud.load()); // the race's winner
    chunkDecode.join();
    EXPECT_EQ(chunk, "Cloud words.");
    ASSERT_EQ(whisper.calls().size(), 1u); // the full decode's; the chunk never raced
    EXPECT_CONTAINS(log.text(), "⚡ decode race: local won");
}

// Each decode reads the model picked meanwhile; none reads back a transcript an earlier one left.
TEST_F(DecodeRouting, ADecoderTakesTheModelPickedMeanwhileAndNoStaleTranscript) {
    settings.config.cloud = false;
    writeFixture(work.file("other.bin"), "model");
    const auto choice = std::make_shared<DecodeModelChoice>(settings.model);
    const Decoder decode = decoderWith(choice, [this] { return settings; });
    const std::string wav = clip("a.wav", 1);
    EXPECT_EQ(decode({wav, work.file("one")}), "Local words.");
    choice->set(work.file("other.bin"));
    EXPECT_EQ(decode({wav, work.file("two")}), "Local words.");
    const auto calls = whisper.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args.at(1), settings.model);
    EXPECT_EQ(calls[1].args.at(1), work.file("other.bin"));

    writeFixture(work.file("two.txt"), "Words of an earlier decode.");
    whisper.setControl("mode=silent");
    EXPECT_EQ(decode({wav, work.file("two")}), std::nullopt);
    EXPECT_FALSE(pathExists(work.file("two.txt")));
}

// An empty answer never wins; the winner does not wait for the loser; when both fail the race
// ends once both have.
TEST_F(DecodeRouting, TheRaceTakesTheFirstTextAndWaitsForTheLoserOnlyWhenNeitherHasOne) {
    struct Case {
        const char* name;
        bool server; // the local path through the decode server, which answers empty
        const char* cloud;
        int cloudStatus;
        double cloudDelay;
        const char* whisperControl;
        double timeScale;
        std::optional<std::string> text;
        double fastest;
        double slowest;
        const char* logged; // a pattern
    };
    const Case cases[] = {
        {"local empty first", true, R"({"text":"Cloud words."})", 200, 0.5, "", 1, "Cloud words.",
         0.5, 1.5, R"(⚡ decode race: cloud won \(cloud 0\.[5-7]s · local 0\.[0-3]s\)\n)"},
        {"cloud first", false, R"({"text":"Cloud words."})", 200, 1.2, "delay=2.5", 0.2,
         "Cloud words.", 1.2, 2.0, R"(⚡ decode race: cloud won \(cloud 1\.[23]s · local dnf\))"},
        {"both fail", false, R"({"error":"overloaded"})", 503, 0, "mode=hang", 0.05, std::nullopt,
         2.9, 6.0, R"(!! whisper watchdog: killed after 3s \(clip 1s\))"},
    };
    const std::string wav = clip("a.wav", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.config.useServer = c.server;
        server.answer("inference", R"({"text":""})");
        server.answer("transcribe", c.cloud, c.cloudDelay, c.cloudStatus);
        whisper.setControl(c.whisperControl);
        settings.timeScale = c.timeScale;
        const LogCapture log;
        const auto start = SteadyClock::now();
        EXPECT_EQ(decode(wav), c.text);
        EXPECT_GE(secondsSince(start), c.fastest);
        EXPECT_LT(secondsSince(start), c.slowest);
        EXPECT_TRUE(regexSearch(log.text(), c.logged)) << log.text();
        EXPECT_EQ(log.text().find("⚡") == std::string::npos, !c.text);
        EXPECT_TRUE(waitForDecodeEngines(5));
    }
}

} // namespace
} // namespace vak
