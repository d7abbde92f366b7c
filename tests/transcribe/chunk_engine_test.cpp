#include "base/files.h"
#include "chunk_replay.h"
#include "decode_fixture.h"
#include "support/tone_decoder.h"
#include "tone_words.h"
#include "transcribe/chunk_engine.h"

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::LogCapture;

// Phrases of the given numbers of words, each followed by its pause, after 0.3 s of silence.
// Consecutive words always differ.
tone::Dictation speech(const std::vector<std::pair<int, double>>& phrases) {
    tone::Dictation dictation;
    dictation.silence(0.3);
    std::size_t next = 0;
    for (const auto& [count, pause] : phrases) {
        std::vector<std::size_t> words;
        for (int i = 0; i < count; ++i)
            words.push_back((next++ * 7) % tone::vocabulary().size());
        dictation.say(words);
        dictation.silence(pause);
    }
    return dictation;
}

tone::Dictation natural(double seconds, std::uint32_t seed) {
    tone::DictationPlan plan;
    plan.seconds = seconds;
    plan.seed = seed;
    return tone::makeDictation(plan);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// An engine over a recording that grows as the test says; passes run synchronously.
class ChunkEngineTest : public testing::Test {
  protected:
    ChunkEngineTest() { settings.scratchDir = scratch.path(); }
    ~ChunkEngineTest() override { decodeRoute.store(DecodeRoute::Auto); }

    ChunkEngine& engine() {
        if (!engine_) {
            engine_ = ChunkEngine::create(settings);
            engine_->setTranscribe(decoder.transcribe());
        }
        return *engine_;
    }
    void record(tone::Dictation spoken) {
        recording.reset(); // it reads the old dictation and would remove the new file later
        dictation = std::move(spoken);
        recording = std::make_unique<replay::GrowingRecording>(scratch.file("vak_rec_1.wav"),
                                                               dictation.samples());
        engine().simStart(recording->path(), 1);
    }
    void at(double seconds) const { recording->growTo(seconds); }
    void fireAt(double seconds) {
        at(seconds);
        engine().simFire();
    }
    void specAt(double seconds) {
        at(seconds);
        engine().simSpec();
    }
    std::optional<std::string> finish() {
        std::promise<std::optional<std::string>> done;
        engine().finish([&done](std::optional<std::string> text) { done.set_value(text); });
        return done.get_future().get();
    }
    std::optional<std::string> finishAtTheEnd() {
        at(dictation.seconds());
        return finish();
    }
    std::vector<std::string> spokenWords() const { return tone::wordsOf(dictation.text()); }
    // No clip or decoder output is left in the scratch folder, only the recording.
    void expectNoScratchLeft() const {
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
            EXPECT_EQ(entry.path().filename(), "vak_rec_1.wav");
    }

    test::TempDir scratch;
    ChunkSettings settings;
    test::ToneDecoder decoder;
    tone::Dictation dictation;
    std::unique_ptr<replay::GrowingRecording> recording;
    LogCapture log;

  private:
    std::shared_ptr<ChunkEngine> engine_;
};

TEST_F(ChunkEngineTest, BelowTwentySecondsTheEngineIsOff) {
    EXPECT_TRUE(ChunkSettings{20}.enabled());
    settings.chunkSeconds = 15;
    settings.timeScale = 0.01; // the timers would fire every 0.15 s and 0.02 s
    record(natural(40, 1));
    at(40);
    engine().start(recording->path(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    engine().simFire();
    EXPECT_EQ(finish(), std::nullopt);
    EXPECT_TRUE(decoder.clips().empty());
}

TEST_F(ChunkEngineTest, SpeechWithoutPausesIsCutAtTheThirdTickBetweenTwoWords) {
    tone::DictationPlan plan;
    plan.seconds = 100;
    plan.pauses = false;
    record(tone::makeDictation(plan));
    fireAt(30);
    fireAt(60);
    EXPECT_TRUE(decoder.clips().empty()); // no pause yet, and not three chunks long
    fireAt(90);
    ASSERT_EQ(decoder.kinds(), std::vector<std::string>{"chunk"});
    EXPECT_TRUE(contains(log.text(), "· chunk 1: no pause in 90s — hard cut\n")) << log.text();
    const double chunk = decoder.clips()[0].seconds;
    EXPECT_GT(chunk, 82.0); // within the last 8 seconds
    EXPECT_LT(chunk, 90.0); // not through the word being spoken at the tick
    EXPECT_TRUE(contains(log.text(),
                         "· chunk 1 cached · " + std::to_string(static_cast<int>(chunk)) + "s → "));

    const auto text = finishAtTheEnd();
    ASSERT_TRUE(text);
    EXPECT_EQ(tone::wordsOf(*text), spokenWords()); // nothing lost or doubled at the cut
    EXPECT_EQ(decoder.kinds(), (std::vector<std::string>{"chunk", "tail"}));
    EXPECT_TRUE(contains(log.text(), "(1 chunk pre-cached)"));
}

TEST_F(ChunkEngineTest, ChunksAreCutInPausesAndEveryDecodeHasItsRoute) {
    record(natural(100, 7));
    std::vector<std::string> prospective;
    engine().setOnSpecTranscript(
        [&prospective](const std::string& text) { prospective.push_back(text); });
    for (double t = 2; t < 100; t += 2) {
        if (static_cast<int>(t) % 30 == 0) fireAt(t);
        specAt(t);
    }
    const auto text = finishAtTheEnd();
    ASSERT_TRUE(text);
    EXPECT_EQ(tone::wordsOf(*text), spokenWords());

    int chunks = 0;
    for (const auto& clip : decoder.clips()) {
        const DecodeRoute expected = clip.kind == "chunk"  ? DecodeRoute::CloudPreferred
                                     : clip.kind == "spec" ? DecodeRoute::LocalOnly
                                                           : DecodeRoute::Auto;
        EXPECT_EQ(clip.route, expected) << clip.kind;
        const std::string name = clip.kind == "chunk" ? std::to_string(chunks++) : clip.kind;
        EXPECT_EQ(clip.file, "vak_chunk_1_" + name + ".wav");
        EXPECT_EQ(clip.text.find('~'), std::string::npos) << "a word was cut: " << clip.text;
    }
    EXPECT_EQ(chunks, 3);
    EXPECT_EQ(decodeRoute.load(), DecodeRoute::Auto);
    // The listener heard the chunks so far and the speculative tail, one per line.
    ASSERT_FALSE(prospective.empty());
    const auto clips = decoder.clips();
    const auto firstChunk = std::find_if(clips.begin(), clips.end(),
                                         [](const auto& clip) { return clip.kind == "chunk"; });
    EXPECT_EQ(prospective.back().find(firstChunk->text + "\n"), 0u);
    expectNoScratchLeft();
}

TEST_F(ChunkEngineTest, TheSpeculativeTailStandsAloneOnlyWhenNothingWasSaidAfterIt) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, double>> phrases;
        double stopAt; // 0: at the end
        std::vector<std::string> decodes;
        bool zeroWait;
    };
    const std::vector<Case> cases = {
        // A pause from 5.2 s; the pass at 8 s pre-decodes; the stop 1.3 s later finds silence.
        {"stop in the pause", {{14, 4.0}}, 9.3, {"spec"}, true},
        // The user speaks again after the pre-decoded pause: only the new words are decoded.
        {"speech resumed", {{14, 3.5}, {5, 0.3}}, 0, {"spec", "tail"}, false},
        // Still silent, but more than 3 s after the pre-decode: that stretch is decoded.
        {"stop long after", {{14, 6.0}}, 0, {"spec", "tail"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        record(speech(c.phrases));
        const auto before = decoder.clips().size();
        const LogCapture caseLog;
        for (double t : {2.0, 4.0, 6.0, 8.0, 10.0})
            if (t < dictation.seconds() && (c.stopAt == 0 || t < c.stopAt)) specAt(t);
        at(c.stopAt == 0 ? dictation.seconds() : c.stopAt);
        const auto text = finish();
        ASSERT_TRUE(text);
        EXPECT_EQ(tone::wordsOf(*text), spokenWords());
        std::vector<std::string> kinds = decoder.kinds();
        kinds.erase(kinds.begin(), kinds.begin() + static_cast<long>(before));
        EXPECT_EQ(kinds, c.decodes);
        EXPECT_EQ(contains(caseLog.text(), "⚡ tail was pre-decoded — zero decode wait at stop\n"),
                  c.zeroWait);
        if (!c.zeroWait) {
            EXPECT_TRUE(contains(caseLog.text(), "(0 chunks pre-cached)\n")) << caseLog.text();
            // The decode at the stop covers what came after the pre-decoded part, not all.
            EXPECT_LT(decoder.clips().back().seconds, 6.0);
        }
    }
}

TEST_F(ChunkEngineTest, EachPauseExtendsTheSpeculativeTailWithOnlyTheNewWords) {
    record(speech({{8, 3.5}, {8, 3.5}}));
    std::vector<std::string> prospective;
    engine().setOnSpecTranscript(
        [&prospective](const std::string& text) { prospective.push_back(text); });
    for (double t = 2; t <= 14; t += 2)
        specAt(t);
    ASSERT_EQ(decoder.kinds(), (std::vector<std::string>{"spec", "spec"}));
    const auto clips = decoder.clips();
    EXPECT_LT(clips[1].seconds, 8.0); // the second phrase and its pause, not both phrases
    ASSERT_EQ(prospective.size(), 2u);
    EXPECT_EQ(prospective[1], clips[0].text + "\n" + clips[1].text);

    const auto text = finishAtTheEnd();
    ASSERT_TRUE(text);
    EXPECT_EQ(tone::wordsOf(*text), spokenWords());
    EXPECT_EQ(decoder.clips().size(), 2u); // zero wait: the stop decoded nothing
}

TEST_F(ChunkEngineTest, AFailedChunkAbandonsTheWholeCacheForGood) {
    record(natural(150, 3));
    decoder.failChunk(1);
    fireAt(30);
    fireAt(60);
    EXPECT_TRUE(contains(
        log.text(), "⚠️ chunk decode failed — cache abandoned, will full-decode at stop\n"));
    fireAt(90);
    for (double t = 92; t < 120; t += 2)
        specAt(t);
    fireAt(120);
    EXPECT_EQ(decoder.kinds(), (std::vector<std::string>{"chunk", "chunk"}));
    EXPECT_EQ(finishAtTheEnd(), std::nullopt); // never a partial transcript
    EXPECT_EQ(decoder.clips().size(), 2u);
}

TEST_F(ChunkEngineTest, TwoCachedChunksAndATenthOfASecondFinishWithoutADecode) {
    record(natural(75, 11));
    fireAt(30);
    fireAt(60);
    const auto clips = decoder.clips();
    ASSERT_EQ(clips.size(), 2u);
    // The recording stops 0.1 s after the second cut.
    const auto cutBytes =
        static_cast<off_t>(std::llround((clips[0].seconds + clips[1].seconds) * 32000));
    ASSERT_EQ(::truncate(recording->path().c_str(), 44 + cutBytes + 3200), 0);
    EXPECT_EQ(finish(), clips[0].text + "\n" + clips[1].text);
    EXPECT_EQ(decoder.clips().size(), 2u);
    EXPECT_FALSE(contains(log.text(), "tail decoded"));
}

TEST_F(ChunkEngineTest, TheTailLineCountsTheCachedChunks) {
    for (const auto& [seconds, fires, wording] : {std::tuple{45.0, 1, "(1 chunk pre-cached)\n"},
                                                  std::tuple{75.0, 2, "(2 chunks pre-cached)\n"}}) {
        const LogCapture caseLog;
        record(natural(seconds, 5));
        for (int i = 1; i <= fires; ++i)
            fireAt(30.0 * i);
        const auto text = finishAtTheEnd();
        ASSERT_TRUE(text);
        EXPECT_EQ(tone::wordsOf(*text), spokenWords());
        EXPECT_TRUE(contains(caseLog.text(), wording)) << caseLog.text();
    }
}

TEST_F(ChunkEngineTest, TheTimersCutAndPreDecodeWhileTheRecordingGrows) {
    settings.timeScale = 0.02; // chunks every 0.6 s, pauses checked every 0.04 s
    record(natural(75, 9));
    engine().start(recording->path(), 1);
    // Audio arrives 50 times faster than speech, as the timers run 50 times faster.
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        at(elapsed * 50);
        if (elapsed * 50 >= dictation.seconds()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto text = finish();
    ASSERT_TRUE(text);
    EXPECT_EQ(tone::wordsOf(*text), spokenWords());
    const auto kinds = decoder.kinds();
    EXPECT_GE(std::count(kinds.begin(), kinds.end(), "chunk"), 1);
    EXPECT_GE(std::count(kinds.begin(), kinds.end(), "spec"), 1);
    // Finished: the timers are gone.
    const auto decodes = kinds.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(decoder.clips().size(), decodes);
}

TEST_F(ChunkEngineTest, CancelStopsTheTimersWithoutACompletion) {
    settings.timeScale = 0.02;
    record(natural(60, 2));
    at(60);
    engine().start(recording->path(), 1);
    engine().cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // over a chunk period
    EXPECT_TRUE(decoder.clips().empty());
}

// Chunks, speculative tails and the stop's decode through the real routing, with the fake
// engines: chunks ask the cloud first, speculative tails stay local, the stop races both.
class ChunkRouting : public test::DecodeTest {
  protected:
    ChunkRouting() {
        whisper.setTranscript("Local words.");
        server.answer("transcribe", R"({"text":"Cloud words."})");
        settings.config.useServer = false;
    }
};

TEST_F(ChunkRouting, ChunksPreferTheCloudAndSpeculativeTailsStayLocal) {
    ChunkSettings chunkSettings;
    chunkSettings.scratchDir = work.path();
    const auto engine = ChunkEngine::create(chunkSettings);
    engine->setTranscribe([decode = settings](const std::string& wav, const std::string& base) {
        return runWhisper(wav, base, decode);
    });
    // Pauses at 22.8 s and 26 s for the chunk cut at 30 s, and one from 31 s to 35 s.
    const auto spoken = speech({{30, 1.0}, {30, 1.0}, {6, 1.5}, {10, 4.0}, {4, 0.5}});
    replay::GrowingRecording recording(work.file("vak_rec_4.wav"), spoken.samples());
    engine->simStart(recording.path(), 4);

    LogCapture log;
    recording.growTo(30);
    engine->simFire(); // a pause lies within the last 8 s
    ASSERT_EQ(requestsTo("/transcribe"), 1u);
    EXPECT_TRUE(whisper.calls().empty());
    EXPECT_TRUE(contains(log.text(), "☁ cloud engine decode"));

    for (double t = 32; t <= 36; t += 2) {
        recording.growTo(t);
        engine->simSpec();
    }
    ASSERT_EQ(whisper.calls().size(), 1u);
    EXPECT_EQ(requestsTo("/transcribe"), 1u);
    EXPECT_EQ(whisper.calls()[0].args.at(3), work.file("vak_chunk_4_spec.wav"));

    recording.growTo(spoken.seconds());
    std::promise<std::optional<std::string>> done;
    engine->finish([&done](std::optional<std::string> text) { done.set_value(text); });
    const auto text = done.get_future().get();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("Cloud words.\nLocal words.\n", 0), 0u) << *text;
    EXPECT_TRUE(contains(log.text(), "⚡ decode race: ")); // the stop's decode raced both
    EXPECT_EQ(decodeRoute.load(), DecodeRoute::Auto);
    for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
        const std::string name = entry.path().filename();
        EXPECT_FALSE(name.starts_with("vak_chunk_") && name.ends_with(".wav")) << name;
    }
}

// Whole dictations on the daemon's timer schedule, decodes taking as long as a real decoder.
class ChunkReplay : public testing::Test {
  protected:
    replay::Options options() const {
        replay::Options o;
        o.scratchDir = scratch.path();
        return o;
    }
    test::TempDir scratch;
};

TEST_F(ChunkReplay, TwoAndFiveMinuteDictationsComeBackWordForWord) {
    for (const double minutes : {2.0, 5.0}) {
        SCOPED_TRACE(minutes);
        const auto spoken = natural(minutes * 60, static_cast<std::uint32_t>(minutes));
        const auto result = replay::run(spoken.samples(), options());
        ASSERT_TRUE(result.text);
        EXPECT_EQ(tone::wordsOf(*result.text), tone::wordsOf(spoken.text()));
        std::size_t chunks = 0;
        for (const auto& decode : result.decodes) {
            chunks += decode.kind == "chunk" ? 1 : 0;
            const DecodeRoute expected = decode.kind == "chunk"  ? DecodeRoute::CloudPreferred
                                         : decode.kind == "spec" ? DecodeRoute::LocalOnly
                                                                 : DecodeRoute::Auto;
            EXPECT_EQ(decode.route, expected) << decode.kind;
        }
        EXPECT_GE(chunks, static_cast<std::size_t>(minutes * 2 - 2));
    }
}

TEST_F(ChunkReplay, AStopInThePauseAfterThePreDecodeWaitsForNoDecode) {
    auto spoken = natural(120, 4);
    spoken.silence(4);
    spoken.say(std::vector<std::size_t>{1, 2, 3, 4, 5, 6});
    const double lastWord = spoken.seconds();
    spoken.silence(6);
    auto o = options();
    o.stopAfterSpeculativeFrom = lastWord;
    LogCapture log;
    const auto result = replay::run(spoken.samples(), o);
    ASSERT_TRUE(result.text);
    EXPECT_EQ(tone::wordsOf(*result.text), tone::wordsOf(spoken.text()));
    EXPECT_LT(result.stopAt, spoken.seconds());
    EXPECT_EQ(result.finishDecode, 0.0);
    EXPECT_TRUE(contains(log.text(), "⚡ tail was pre-decoded"));
}

} // namespace
} // namespace vak
