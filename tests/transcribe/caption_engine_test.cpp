#include "base/files.h"
#include "chunk_replay.h"
#include "support/log_capture.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "tone_words.h"
#include "transcribe/caption_engine.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::writeFixture;

// `count` different words from `first` on.
std::vector<std::size_t> words(std::size_t first, std::size_t count) {
    std::vector<std::size_t> list;
    for (std::size_t i = 0; i < count; ++i)
        list.push_back((first + i) % tone::vocabulary().size());
    return list;
}

// The caption engine over a recording that grows as the test says, decoding with the fake
// whisper-cli, which hears the tone words and keeps a copy of every clip.
class CaptionEngineTest : public testing::Test {
  protected:
    CaptionEngineTest() {
        std::filesystem::create_directories(work.file("scratch"));
        writeFixture(work.file("caption.bin"), "model");
        whisper.setControl("source=tones\nkeep_inputs=1");
        settings.model = work.file("caption.bin");
    }

    std::shared_ptr<CaptionEngine> makeEngine() {
        engine = CaptionEngine::create(settings);
        engine->setDisplay([this](const std::string& caption) {
            std::lock_guard lock(mutex);
            shown.push_back(caption);
        });
        return engine;
    }
    // A new engine on the recording, its passes made by the test.
    void simStart() { makeEngine()->simStart(recording->path()); }
    void passAt(double seconds) {
        recording->growTo(seconds);
        engine->simPass();
    }
    void record(tone::Dictation spoken) {
        recording.reset();
        dictation = std::move(spoken);
        recording =
            std::make_unique<replay::GrowingRecording>(work.file("rec.wav"), dictation.samples());
    }
    std::vector<std::string> captions() const {
        std::lock_guard lock(mutex);
        return shown;
    }
    // Seconds of audio in each clip the decoder was given, in order.
    std::vector<double> clips() const {
        std::vector<double> seconds;
        for (const auto& call : whisper.calls()) {
            const auto size =
                fileSize(whisper.dir() + "/input-" + std::to_string(call.pid) + "-0.wav");
            seconds.push_back(size ? static_cast<double>(*size - 44) / 32000 : -1);
        }
        return seconds;
    }
    // What the decoder hears in [from, to) seconds of the recording, as a caption.
    std::string heard(double from, double to) const {
        const auto first = static_cast<std::size_t>(from * tone::kSampleRate);
        const auto end = static_cast<std::size_t>(to * tone::kSampleRate);
        return cleanCaptionText(
            tone::transcriptOf(std::span(dictation.samples()).subspan(first, end - first)));
    }
    bool scratchIsEmpty() const { return std::filesystem::is_empty(work.file("scratch")); }

    test::TempDir work;
    test::FakeWhisper whisper;
    CaptionSettings settings =
        CaptionSettings::from(Config{}, whisper.path(), ScratchFiles(work.file("scratch")));
    tone::Dictation dictation;
    std::unique_ptr<replay::GrowingRecording> recording;
    std::shared_ptr<CaptionEngine> engine;
    mutable std::mutex mutex;
    std::vector<std::string> shown;
};

TEST(CaptionText, TagsAndSoundDescriptionsAreDropped) {
    const std::pair<const char*, const char*> cases[] = {
        {"[BLANK_AUDIO]\n", ""},
        {" (wind blowing) hello \n there [MUSIC PLAYING]\n", "hello there"},
        {"[Music] stays, only capitals are tags", "[Music] stays, only capitals are tags"},
        {"one (two) three (four", "one three (four"},
        {"  \t\n", ""},
    };
    for (const auto& [raw, expected] : cases)
        EXPECT_EQ(cleanCaptionText(raw), expected) << raw;
}

TEST(CaptionWindow, IsSixToTenSeconds) {
    const std::pair<double, double> cases[] = {{2, 6}, {7.5, 7.5}, {10.5, 10}};
    for (const auto& [window, seconds] : cases)
        EXPECT_EQ(captionWindowBytes(window), static_cast<std::uint64_t>(seconds * 32000))
            << window;
}

TEST_F(CaptionEngineTest, NothingStartsWithoutLiveCaptionsOrTheModel) {
    settings.timeScale = 0.05; // passes would come every 0.1 s
    record(tone::makeDictation({}));
    recording->growTo(10);
    for (const bool modelThere : {true, false}) {
        settings.liveCaptions = !modelThere;
        if (!modelThere) removeFile(settings.model);
        makeEngine();
        EXPECT_EQ(engine->modelAvailable(), modelThere);
        engine->start(recording->path());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        engine->stop();
    }
    EXPECT_TRUE(whisper.calls().empty());
    EXPECT_TRUE(captions().empty());
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(CaptionEngineTest, TheFirstSecondDecodesNothingAndTheWindowDecidesWhatIsCommitted) {
    // Twelve words, a pause from 4.5 s to 5.6 s, fourteen more words.
    tone::Dictation spoken;
    spoken.silence(0.3);
    spoken.say(words(0, 12));
    spoken.silence(1.0);
    spoken.say(words(12, 14));
    spoken.silence(0.5);
    record(std::move(spoken));
    const std::string firstPhrase = heard(0, 4.6);

    settings.windowSeconds = 3;
    simStart();
    passAt(0.5);
    passAt(1.0);
    EXPECT_TRUE(whisper.calls().empty());
    passAt(1.5);
    EXPECT_EQ(clips(), std::vector<double>{1.5});
    EXPECT_EQ(captions(), std::vector<std::string>{heard(0, 1.5)});
    EXPECT_TRUE(scratchIsEmpty()); // the clip and the decoder's text are gone

    // A 3-second setting still means a 6-second window: at 7.5 s the text before the pause is
    // committed and the rest decoded as the live tail.
    passAt(7.5);
    auto seen = clips();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_GT(seen[1], 4.5);
    EXPECT_LT(seen[1], 5.6);
    EXPECT_NEAR(seen[1] + seen[2], 7.5, 1e-9);
    EXPECT_EQ(captions().back().rfind(firstPhrase + " ", 0), 0u) << captions().back();

    // A 30-second setting means 10 seconds: 7.5 s is decoded whole, 10.3 s commits.
    settings.windowSeconds = 30;
    simStart();
    engine->simPass();
    seen = clips();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_NEAR(seen[3], 7.5, 1e-9);
    passAt(10.3);
    seen = clips();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_GT(seen[4], 4.5);
    EXPECT_LT(seen[4], 5.6);
    EXPECT_EQ(captions().back(), firstPhrase + " " + heard(seen[4], 10.3));
}

TEST_F(CaptionEngineTest, AMonologueIsForcedToCommitAllButItsLastTwoSeconds) {
    settings.windowSeconds = 6;
    tone::DictationPlan plan;
    plan.seconds = 17;
    plan.pauses = false;
    record(tone::makeDictation(plan));
    simStart();
    for (double t = 2; t <= 16; t += 2)
        passAt(t);
    // The whole growing tail up to 12 s; at 14 s a cut 2 s before the end; then only the new
    // audio after the committed point.
    EXPECT_EQ(clips(), (std::vector<double>{2, 4, 6, 8, 10, 12, 12, 2, 4}));
    const std::string committed = heard(0, 12);
    ASSERT_EQ(captions().size(), 8u);
    EXPECT_EQ(captions()[6], committed + " " + heard(12, 14));
    EXPECT_EQ(captions()[7], committed + " " + heard(12, 16));
}

// Silence is heard as "[BLANK_AUDIO]", also in the part committed past the window.
TEST_F(CaptionEngineTest, ABlankAudioTagShowsNoCaption) {
    settings.windowSeconds = 6;
    tone::Dictation silence;
    silence.silence(9);
    record(std::move(silence));
    simStart();
    for (double t = 2; t <= 8; t += 2)
        passAt(t);
    EXPECT_GE(whisper.calls().size(), 5u);
    EXPECT_TRUE(captions().empty());
}

TEST_F(CaptionEngineTest, APassDecodingWhenStopArrivesIsEndedAndPublishesNothing) {
    settings.timeScale = 0.1; // a pass every 0.2 s, decoder limit 1 s
    tone::Dictation spoken;
    spoken.say(words(0, 8));
    record(std::move(spoken));
    recording->growTo(3);
    makeEngine();

    // Running on its timer, the engine shows captions…
    engine->start(recording->path());
    ASSERT_TRUE(test::waitUntil([&] { return !captions().empty(); }));
    engine->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto callsBefore = whisper.calls().size();
    const auto captionsBefore = captions().size();

    // …but not the one whose decode was running when it was stopped; a slow decoder is ended
    // at once rather than left to compete with the stop's own decode.
    whisper.setControl("source=tones\nkeep_inputs=1\ndelay=5");
    engine->start(recording->path());
    ASSERT_TRUE(test::waitUntil([&] { return whisper.calls().size() > callsBefore; }));
    const pid_t decoder = whisper.calls().back().pid;
    test::LogCapture log;
    engine->stop();
    EXPECT_TRUE(
        test::waitUntil([&] { return ::kill(decoder, 0) != 0; }, 0.5)); // before its time limit
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(captions().size(), captionsBefore);
    EXPECT_EQ(whisper.calls().size(), callsBefore + 1); // and no pass after it
    EXPECT_TRUE(log.messages().empty());                // an ended pass is no failed one
}

// At the stop the pass's request is ended at once: nothing waits for it, nothing of it is shown,
// and its closed connection tells whisper-server to give it up.
TEST_F(CaptionEngineTest, APassOnTheCaptionServerIsEndedAtTheStop) {
    test::FakeSpeechServer server;
    settings.timeScale = 0.5; // a pass every second, limit 5 s
    settings.serverUrl = server.url("/inference");
    server.answer("inference", R"({"text":"late words"})", 10);
    tone::Dictation spoken;
    spoken.say(words(0, 8));
    record(std::move(spoken));
    recording->growTo(3);
    makeEngine();
    test::LogCapture log;
    engine->start(recording->path());
    // The pass's curl is this test's only child beside the server.
    const auto onlyServer = [&] { return test::childProcesses() == std::vector{server.pid()}; };
    ASSERT_TRUE(test::waitUntil([&] { return !onlyServer(); }));
    engine->stop();
    EXPECT_TRUE(test::waitUntil(onlyServer, 1.0)); // well before its limit
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(captions().empty());
    EXPECT_TRUE(whisper.calls().empty()); // not handed to whisper-cli instead
    EXPECT_TRUE(log.messages().empty());  // an ended pass is no failed one
}

TEST_F(CaptionEngineTest, AHungDecoderIsKilledAndTheNextPassDecodesOnlyTheWindow) {
    settings.timeScale = 0.05; // limit max(4 × 2, 10) × 0.05 = 0.5 s, then 0.1 s grace
    whisper.setControl("mode=hang\nkeep_inputs=1");
    tone::DictationPlan plan;
    plan.seconds = 60;
    record(tone::makeDictation(plan));
    simStart();
    const auto start = std::chrono::steady_clock::now();
    test::LogCapture log;
    passAt(3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(captions().empty());
    ASSERT_EQ(whisper.calls().size(), 1u);
    EXPECT_NE(::kill(whisper.calls()[0].pid, 0), 0);
    EXPECT_TRUE(scratchIsEmpty());
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"⚠️ caption pass killed after 0s — the "
                                       "next one decodes only the last "
                                       "CAPTION_WINDOW"});

    // Forty seconds later the decoder is well again: the pass decodes the last 10 s only, not the
    // 40 s that would overrun again, and the captions go on.
    whisper.setControl("source=tones\nkeep_inputs=1");
    passAt(43);
    ASSERT_EQ(clips().size(), 2u);
    EXPECT_NEAR(clips()[1], 10, 0.01);
    ASSERT_EQ(captions().size(), 1u);
    EXPECT_EQ(captions()[0], "… " + heard(33, 43));
}

// The caption server is asked first; whisper-cli stands in when it is not there or fails, but not
// when it is merely slow (whisper-cli would be slower still).
TEST_F(CaptionEngineTest, TheCaptionServerDecodesAndWhisperCliStandsInWhenItCannot) {
    test::FakeSpeechServer server;
    settings.timeScale = 0.05; // limit 0.5 s: curl's whole second
    tone::Dictation spoken;
    spoken.say(words(0, 8));
    record(std::move(spoken));
    const std::string fromCli = heard(0, 3);
    struct Case {
        const char* what;
        int status;
        double delay;
        bool dead;
        std::size_t cliCalls;
        const char* caption; // nullptr: none
        const char* logged;
    };
    const Case cases[] = {
        {"answers", 200, 0, false, 0, "server words", ""},
        {"fails", 500, 0, false, 1, nullptr,
         "⚠️ caption server answered HTTP 500 (no good) — this pass through whisper-cli"},
        {"slow", 200, 3, false, 0, nullptr,
         "⚠️ caption pass: no answer from the caption server within 0s — the next one "
         "decodes "
         "only the last CAPTION_WINDOW"},
        {"gone", 200, 0, true, 1, nullptr,
         "· caption server not answering at http://127.0.0.1:1/inference — captions through "
         "whisper-cli (a model load per pass)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings.serverUrl = c.dead ? "http://127.0.0.1:1/inference" : server.url("/inference");
        server.answer("inference",
                      c.status == 200 ? R"({"text":"[BLANK_AUDIO] server words\n"})"
                                      : R"({"error":"no good"})",
                      c.delay, c.status);
        const auto callsBefore = whisper.calls().size();
        const auto shownBefore = captions().size();
        test::LogCapture log;
        simStart();
        passAt(3);
        EXPECT_EQ(whisper.calls().size() - callsBefore, c.cliCalls);
        ASSERT_EQ(captions().size() - shownBefore, c.cliCalls > 0 || c.caption ? 1u : 0u);
        if (captions().size() > shownBefore) {
            EXPECT_EQ(captions().back(), c.caption ? c.caption : fromCli);
        }
        EXPECT_EQ(log.messages(),
                  c.logged[0] ? std::vector<std::string>{c.logged} : std::vector<std::string>{});
        EXPECT_TRUE(scratchIsEmpty());
    }
    // The caption decode, greedy and without a prompt, of the clip whisper-cli is given.
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const nlohmann::json fields = {{"response_format", "json"},
                                   {"language", "en"},
                                   {"no_timestamps", "true"},
                                   {"beam_size", "1"},
                                   {"best_of", "1"}};
    EXPECT_EQ(requests[0]["fields"], fields);
    ASSERT_FALSE(clips().empty());
    EXPECT_EQ(requests[0]["files"]["file"]["size"], 44 + clips()[0] * 32000);
}

} // namespace
} // namespace vak
