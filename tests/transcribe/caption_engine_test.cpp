#include "base/files.h"
#include "chunk_replay.h"
#include "support/expect_contains.h"
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

namespace vak {
namespace {

using test::writeFixture;

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
    void simStart() { makeEngine()->simStart(recording->path()); }
    // A new engine on its timer, over the first 3 s of eight words.
    void startOnTimer() {
        tone::Dictation spoken;
        spoken.say(words(0, 8));
        record(std::move(spoken));
        recording->growTo(3);
        makeEngine()->start(recording->path());
    }
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
    };
    for (const auto& [raw, expected] : cases)
        EXPECT_EQ(cleanCaptionText(raw), expected) << raw;
}

TEST(CaptionWindow, IsSixToTenSeconds) {
    for (const auto& [window, seconds] : {std::pair{2.0, 6.0}, {7.5, 7.5}, {10.5, 10.0}})
        EXPECT_EQ(captionWindowBytes(window), static_cast<std::uint64_t>(seconds * 32000));
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
    const auto seen = clips();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_GT(seen[1], 4.5);
    EXPECT_LT(seen[1], 5.6);
    EXPECT_NEAR(seen[1] + seen[2], 7.5, 1e-9);
    EXPECT_EQ(captions().back(), firstPhrase + " " + heard(seen[1], 7.5));
}

TEST_F(CaptionEngineTest, NothingStartsWithoutLiveCaptionsOrTheModel) {
    settings.timeScale = 0.05; // passes would come every 0.1 s
    for (const bool modelThere : {true, false}) {
        settings.liveCaptions = !modelThere;
        if (!modelThere) removeFile(settings.model);
        startOnTimer();
        EXPECT_EQ(engine->modelAvailable(), modelThere);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        engine->stop();
    }
    EXPECT_TRUE(whisper.calls().empty());
    EXPECT_TRUE(captions().empty());
}

// A decoder that hangs is killed at the pass's limit; the next pass decodes the last window
// rather than all the audio since, which would overrun again.
TEST_F(CaptionEngineTest, AHungDecoderIsKilledAndTheNextPassDecodesOnlyTheWindow) {
    settings.timeScale = 0.05; // limit max(4 × 2, 10) × 0.05 = 0.5 s, then 0.1 s grace
    whisper.setControl("mode=hang\nkeep_inputs=1");
    tone::DictationPlan plan;
    plan.seconds = 60;
    record(tone::makeDictation(plan));
    simStart();
    test::LogCapture log;
    passAt(3);
    ASSERT_EQ(whisper.calls().size(), 1u);
    EXPECT_NE(::kill(whisper.calls()[0].pid, 0), 0);
    EXPECT_TRUE(captions().empty());
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"⚠️ caption pass killed after 0s — the "
                                       "next one decodes only the last "
                                       "CAPTION_WINDOW"});
    whisper.setControl("source=tones\nkeep_inputs=1");
    passAt(43);
    ASSERT_EQ(clips().size(), 2u);
    EXPECT_NEAR(clips()[1], 10, 0.01);
    EXPECT_EQ(captions(), std::vector<std::string>{"… " + heard(33, 43)});
}

// At the stop the running pass is ended at once rather than left to compete with the stop's own
// decode: whisper-cli is killed, the caption server's request closed (which tells whisper-server
// to give it up); nothing waits for it, nothing of it is shown, and it is no failure.
TEST_F(CaptionEngineTest, APassRunningAtTheStopIsEndedAndPublishesNothing) {
    for (const bool viaServer : {true, false}) {
        SCOPED_TRACE(viaServer ? "caption server" : "whisper-cli");
        test::FakeSpeechServer server;
        // A pass every 0.2 s or 1 s; the decode's limit 1 s or 5 s.
        settings.timeScale = viaServer ? 0.5 : 0.1;
        whisper.setControl("source=tones\nkeep_inputs=1\ndelay=5");
        if (viaServer) settings.serverUrl = server.url("/inference");
        server.answer("inference", R"({"text":"late words"})", 10);
        const auto decoding = [&] { return test::childProcesses() != std::vector{server.pid()}; };
        test::LogCapture log;
        startOnTimer();
        ASSERT_TRUE(
            test::waitUntil([&] { return viaServer ? decoding() : !whisper.calls().empty(); }));
        engine->stop();
        EXPECT_TRUE(test::waitUntil([&] { return !decoding(); }, viaServer ? 1.0 : 0.5));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(captions().empty());
        EXPECT_EQ(whisper.calls().size(), viaServer ? 0u : 1u); // and no pass after it
        for (const auto& line : log.messages())
            EXPECT_TRUE(line.starts_with("· caption server not answering")) << line;
    }
}

// The caption server is asked first; whisper-cli stands in when it is not there or fails, but not
// when it is merely slow (whisper-cli would be slower still): the pass that overran is given up,
// and the next one decodes only the window.
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
        {"fails", 500, 0, false, 1, nullptr, "answered HTTP 500 (no good) — this pass through"},
        {"slow", 200, 3, false, 0, nullptr, "no answer from the caption server within 0s"},
        {"gone", 200, 0, true, 1, nullptr, "not answering at http://127.0.0.1:1/inference"},
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
        EXPECT_EQ(log.messages().size(), c.logged[0] ? 1u : 0u);
        EXPECT_CONTAINS(log.text(), c.logged);
        EXPECT_TRUE(scratchIsEmpty());
    }
}

} // namespace
} // namespace vak
