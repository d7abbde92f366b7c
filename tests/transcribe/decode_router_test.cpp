#include "base/files.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "decode_fixture.h"
#include "support/expect_contains.h"
#include "transcribe/cloud_client.h"
#include "transcribe/decode_router.h"

#include <algorithm>
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

TEST(DecodeLimits, FollowTheClipLength) {
    const auto tenSeconds = decodeLimits(320044 / 32000.0);
    EXPECT_EQ(static_cast<int>(tenSeconds.cloudSeconds), 30);
    EXPECT_EQ(static_cast<int>(tenSeconds.localSeconds), 80);
    EXPECT_EQ(decodeLimits(0).cloudSeconds, 15);
    EXPECT_EQ(decodeLimits(0).localSeconds, 60);
}

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
        {"cloud off, speculative", false, true, LocalOnly, "Local words.", 1, 0, ""},
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
        // The engine whose text came back is the one noted.
        EXPECT_EQ(trail->cloud.load(), c.text == "Cloud words.");
        EXPECT_EQ(trail->local.load(), c.text == "Local words.");
        EXPECT_EQ(whisper.calls().size() - localBefore, c.localCalls);
        EXPECT_EQ(requestsTo("/transcribe") - cloudBefore, c.cloudCalls);
        EXPECT_CONTAINS(log.text(), c.logged);
    }
    EXPECT_EQ(requestsTo("/inference"), 0u);
}

TEST_F(DecodeRouting, WithoutALocalModelAFailingCloudIsReportedWithItsLimit) {
    removeFile(settings.model);
    settings.config.transcribeUrl = test::deadUrl("/transcribe");
    LogCapture log;
    // 30 s for a 10-second clip, 15 s for an unreadable file.
    EXPECT_EQ(decode(clip("ten.wav", 10)), std::nullopt);
    EXPECT_EQ(decode(work.file("missing.wav")), std::nullopt);
    EXPECT_CONTAINS(log.text(),
                    "‼️ engine did not answer within 30s and there is no local model "
                    "to fall back to");
    EXPECT_CONTAINS(log.text(),
                    "‼️ engine did not answer within 15s and there is no local model");
    EXPECT_TRUE(whisper.calls().empty());
}

TEST_F(DecodeRouting, ChunkDecodesFallBackToLocalOnlyAfterTheCloudAnswered) {
    server.answer("transcribe", R"({"text":""})", 0.3);
    LogCapture log;
    EXPECT_EQ(decode(clip("a.wav", 1), DecodeRoute::CloudPreferred), "Local words.");
    ASSERT_EQ(whisper.calls().size(), 1u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_GE(whisper.calls()[0].startMs, requests[0]["time_ms"].get<long long>() + 250);
    EXPECT_CONTAINS(log.text(), "⚠️ cloud engine not answering — using local decode");
}

TEST_F(DecodeRouting, AnUnreachableEngineIsLeftOutForAMinuteWhereALocalOneCanStandIn) {
    double now = 1000;
    settings.cloudReachability = std::make_shared<CloudReachability>([&now] { return now; });
    const std::string live = server.url("/transcribe");
    const std::string dead = test::deadUrl("/transcribe");
    const std::string wav = clip("a.wav", 1);
    LogCapture log;
    const auto pauses = [&log] {
        const auto messages = log.messages();
        return std::count_if(messages.begin(), messages.end(), [](const std::string& line) {
            return line.starts_with("☁ cloud engine at 127.0.0.1:") &&
                   line.ends_with(" could not be reached — left out for a minute wherever local "
                                  "decoding can stand in");
        });
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
    EXPECT_EQ(log.text().find("cloud engine not answering"), std::string::npos);
    now += 1;
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Cloud words.");

    // Without a local engine a pause changes nothing: the cloud is the only one to ask.
    settings.config.transcribeUrl = dead;
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Local words.");
    settings.config.transcribeUrl = live;
    settings.whisperCli = work.file("no-whisper-cli");
    EXPECT_EQ(decode(wav), "Cloud words.");
    EXPECT_EQ(requestsTo("/transcribe"), 2u);
    EXPECT_EQ(pauses(), 2) << log.text();

    // A service of the user's own key is asked every time.
    settings.whisperCli = whisper.path();
    settings.config.transcribeKey = "sk-1";
    settings.config.transcribeUrl = test::deadUrl("/v1/audio/transcriptions");
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Local words.");
    settings.config.transcribeUrl = server.url("/v1/audio/transcriptions");
    server.answer("transcriptions", R"({"text":"Service words."})");
    EXPECT_EQ(decode(wav, DecodeRoute::CloudPreferred), "Service words.");
    EXPECT_EQ(pauses(), 2);
}

// A chunk decode waiting for the cloud must not turn a full decode running beside it into one
// that skips the race.
TEST_F(DecodeRouting, AChunksRouteStaysWithItsOwnDecode) {
    server.answer("transcribe", R"({"text":"Cloud words."})", 0.6);
    const std::string chunkClip = clip("chunk.wav", 1);
    const std::string fullClip = clip("full.wav", 1);
    LogCapture log;
    std::optional<std::string> chunk;
    std::thread chunkDecode([&] {
        chunk = runWhisper({chunkClip, work.file("chunk"), DecodeRoute::CloudPreferred}, settings);
    });
    while (requestsTo("/transcribe") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto trail = std::make_shared<DecodeTrail>();
    EXPECT_EQ(runWhisper({fullClip, work.file("full"), DecodeRoute::Auto, trail}, settings),
              "Local words.");
    EXPECT_TRUE(trail->local.load() && !trail->cloud.load()); // the race's winner
    chunkDecode.join();
    EXPECT_EQ(chunk, "Cloud words.");
    // The full decode raced (its local engine ran and won); the chunk never asked it.
    ASSERT_EQ(whisper.calls().size(), 1u);
    EXPECT_CONTAINS(log.text(), "⚡ decode race: local won");
}

TEST_F(DecodeRouting, ADecoderTakesTheModelPickedMeanwhileFromItsNextDecode) {
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
    for (const auto& [call, model] :
         {std::pair{calls[0], settings.model}, std::pair{calls[1], work.file("other.bin")}})
        EXPECT_EQ(call.args.at(1), model);
}

TEST_F(DecodeRouting, AStaleTranscriptIsNeverReadBack) {
    settings.config.cloud = false;
    writeFixture(work.file("out.txt"), "Words of an earlier decode.");
    whisper.setControl("mode=silent");
    EXPECT_EQ(decode(clip("a.wav", 1)), std::nullopt);
    EXPECT_FALSE(pathExists(work.file("out.txt")));
}

TEST_F(DecodeRouting, TheConditionedCopyIsDecodedThenDeleted) {
    settings.config.cloud = false;
    settings.config.preprocess = true;
    settings.ffmpeg = "/usr/bin/ffmpeg";
    const std::string wav = clip("a.wav", 2);
    for (bool callMode : {false, true}) {
        settings.config.callMode = callMode;
        LogCapture log;
        EXPECT_EQ(decode(wav), "Local words.");
        EXPECT_TRUE(whisper.calls().back().args.at(3).starts_with(work.file("vak_pp_")));
        EXPECT_EQ(conditionedCopiesLeft(), 0u);
        EXPECT_CONTAINS(log.text(), callMode ? "♪ conditioned audio (call chain) before decode"
                                             : "♪ conditioned audio (normal chain) before decode");
    }
}

TEST_F(DecodeRouting, RaceLocalEmptyFirstThenCloudText) {
    settings.config.useServer = true; // the server answers at once, but with nothing
    server.answer("inference", R"({"text":""})");
    server.answer("transcribe", R"({"text":"Cloud words."})", 0.5);
    LogCapture log;
    EXPECT_EQ(decode(clip("a.wav", 1)), "Cloud words.");
    EXPECT_TRUE(regexSearch(log.text(),
                            R"(⚡ decode race: cloud won \(cloud 0\.[5-7]s · local 0\.[0-3]s\)\n)"))
        << log.text();
}

TEST_F(DecodeRouting, RaceCloudWinsWhileLocalIsStillDecodingAndTheLoserRunsOn) {
    settings.timeScale = 0.2; // cloud limit 3 s, local 12 s
    server.answer("transcribe", R"({"text":"Cloud words."})", 1.2);
    whisper.setControl("delay=2.5");
    LogCapture log;
    const auto start = SteadyClock::now();
    EXPECT_EQ(decode(clip("a.wav", 1)), "Cloud words.");
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 1.2);
    EXPECT_LT(elapsed, 2.0); // the cloud's time plus overhead, not the local decode's
    EXPECT_TRUE(
        regexSearch(log.text(), R"(⚡ decode race: cloud won \(cloud 1\.[23]s · local dnf\))"))
        << log.text();
    // The loser is not cancelled: it finishes its decode on its own.
    EXPECT_GE(decodeEnginesRunning(), 1);
    EXPECT_TRUE(waitForDecodeEngines(5));
    EXPECT_EQ(readTextFile(work.file("out.txt")), "Local words.");
}

TEST_F(DecodeRouting, RaceBothFailingEndsOnceBothHaveFinished) {
    settings.timeScale = 0.05; // local limit 3 s, kill 0.1 s after the polite stop
    server.answer("transcribe", R"({"error":"overloaded"})", 0, 503);
    whisper.setControl("mode=hang");
    LogCapture log;
    const auto start = SteadyClock::now();
    EXPECT_EQ(decode(clip("a.wav", 1)), std::nullopt);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 2.9);
    EXPECT_LT(elapsed, 6.0); // two waits of localTimeout + 5 (scaled) at most
    EXPECT_EQ(log.text().find("⚡"), std::string::npos);
    EXPECT_CONTAINS(log.text(), "!! whisper watchdog: killed after 3s (clip 1s)");
}

// The router's races above show that an empty answer never wins.
TEST(DecodeRace, NeitherEngineIsWaitedForTwiceAndTheLogLineRounds) {
    const auto late = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return std::optional<std::string>("late");
    };
    // Neither finishes in time: two waits, then nothing, both still out.
    const auto start = SteadyClock::now();
    const auto outcome = raceEngines(late, late, 0.3);
    EXPECT_NEAR(secondsSince(start), 0.6, 0.25);
    EXPECT_EQ(outcome.text, std::nullopt);
    EXPECT_EQ(raceLogLine(outcome), "decode race:  won (cloud dnf · local dnf)");

    RaceOutcome shown;
    shown.winner = "cloud";
    shown.cloudSeconds = 1.23;
    EXPECT_EQ(raceLogLine(shown), "decode race: cloud won (cloud 1.2s · local dnf)");
    EXPECT_TRUE(waitForDecodeEngines(5));
}

TEST_F(DecodeRouting, ConcurrentRacesLeakNoChildOrDescriptor) {
    settings.config.useServer = true;
    const std::string wav = clip("a.wav", 1);
    decode(wav); // warm up: the global queue's threads and the log exist from here on
    waitForDecodeEngines(10);
    const auto before = test::openDescriptors();
    std::vector<std::thread> callers;
    std::atomic<int> answered{0};
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                if (runWhisper({wav, work.file("out" + std::to_string(i))}, settings)) ++answered;
            }
        });
    }
    for (auto& caller : callers)
        caller.join();
    EXPECT_EQ(answered.load(), 12);
    EXPECT_TRUE(waitForDecodeEngines(10));
    EXPECT_EQ(test::childProcesses(), std::vector<pid_t>{server.pid()});
    EXPECT_EQ(test::openDescriptors(), before);
}

} // namespace
} // namespace vak
