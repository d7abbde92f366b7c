#include "base/files.h"
#include "base/time_util.h"
#include "chunk_replay.h"
#include "support/expect_contains.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "tone_words.h"
#include "transcribe/chunk_engine.h"
#include "transcribe/decode_cost.h"
#include "transcribe/decode_router.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::LogCapture;

// One decode the engine asked for.
struct HeardClip {
    std::string file;  // without the folder
    std::string kind;  // "chunk", "spec" or "tail", from the name
    DecodeRoute route; // the route the engine asked for
    double seconds = 0;
    std::string text;
};

// Hears the tone words of each clip in this process and notes every call; the chunk decodes
// whose numbers (from 0) are in `failing` fail. A pre-decode takes `preDecodeSeconds`, unless
// it is ended sooner, as the real one's process is: then it gives nothing.
struct ToneDecoder {
    std::optional<std::string> operator()(const DecodeRequest& request) {
        const std::string& wav = request.wav;
        if (request.textBase.ends_with("_spec") && preDecodeSeconds > 0) {
            preDecodeStarted.store(true);
            const auto start = SteadyClock::now();
            while (secondsSince(start) < preDecodeSeconds) {
                if (request.cancel && request.cancel->load()) {
                    ++preDecodesEnded;
                    return std::nullopt;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        const auto samples = tone::readWavSamples(wav);
        HeardClip clip{wav.substr(wav.rfind('/') + 1),
                       request.textBase.substr(request.textBase.rfind('_') + 1), request.route, 0,
                       ""};
        if (clip.kind != "spec" && clip.kind != "tail") clip.kind = "chunk";
        if (samples) {
            clip.seconds = static_cast<double>(samples->size()) / tone::kSampleRate;
            clip.text = tone::transcriptOf(*samples);
        }
        std::lock_guard lock(mutex);
        const bool fail = clip.kind == "chunk" && failing.count(chunks++) > 0;
        heard.push_back(clip);
        return fail || !samples ? std::nullopt : std::optional(clip.text);
    }

    std::mutex mutex;
    std::vector<HeardClip> heard;
    std::set<int> failing;
    int chunks = 0;
    double preDecodeSeconds = 0;
    std::atomic<bool> preDecodeStarted{false};
    std::atomic<int> preDecodesEnded{0};
};

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

// An engine over a recording that grows as the test says; passes run synchronously.
class ChunkEngineTest : public testing::Test {
  protected:
    ChunkEngine& engine() {
        if (!engine_) {
            engine_ = ChunkEngine::create(settings);
            engine_->setTranscribe(
                [decoder = decoder](const DecodeRequest& request) { return (*decoder)(request); });
        }
        return *engine_;
    }
    std::vector<HeardClip> decodes() const {
        std::lock_guard lock(decoder->mutex);
        return decoder->heard;
    }
    std::vector<std::string> decodeKinds() const {
        std::vector<std::string> kinds;
        for (const auto& clip : decodes())
            kinds.push_back(clip.kind);
        return kinds;
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
    // Every word said came back, once, in order.
    void expectEveryWord(const std::optional<std::string>& text) const {
        ASSERT_TRUE(text);
        EXPECT_EQ(tone::wordsOf(*text), tone::wordsOf(dictation.text()));
    }
    // No clip or decoder output is left in the scratch folder, only the recording.
    void expectNoScratchLeft() const {
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
            EXPECT_EQ(entry.path().filename(), "vak_rec_1.wav");
    }

    test::TempDir scratch;
    ChunkSettings settings = ChunkSettings::from(Config{}, ScratchFiles(scratch.path()));
    std::shared_ptr<ToneDecoder> decoder = std::make_shared<ToneDecoder>();
    tone::Dictation dictation;
    std::unique_ptr<replay::GrowingRecording> recording;
    LogCapture log;

    void resetEngine() { engine_.reset(); }

  private:
    std::shared_ptr<ChunkEngine> engine_;
};

TEST_F(ChunkEngineTest, BelowTwentySecondsTheEngineIsOff) {
    settings.chunkSeconds = 20;
    EXPECT_TRUE(settings.enabled());
    settings.chunkSeconds = 15;
    settings.timeScale = 0.01; // the timers would fire every 0.15 s and 0.02 s
    record(natural(40, 1));
    at(40);
    engine().start(recording->path(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    engine().simFire();
    EXPECT_EQ(finish(), std::nullopt);
    EXPECT_TRUE(decodes().empty());
}

TEST_F(ChunkEngineTest, SpeechWithoutPausesIsCutAtTheThirdTickBetweenTwoWords) {
    tone::DictationPlan plan;
    plan.seconds = 100;
    plan.pauses = false;
    record(tone::makeDictation(plan));
    fireAt(30);
    fireAt(60);
    EXPECT_TRUE(decodes().empty()); // no pause yet, and not three chunks long
    fireAt(90);
    ASSERT_EQ(decodeKinds(), std::vector<std::string>{"chunk"});
    EXPECT_CONTAINS(log.text(), "· chunk 1: no pause in 90s — hard cut\n");
    const double chunk = decodes()[0].seconds;
    EXPECT_GT(chunk, 82.0); // within the last 8 seconds
    EXPECT_LT(chunk, 90.0); // not through the word being spoken at the tick
    EXPECT_CONTAINS(log.text(),
                    "· chunk 1 cached · " + std::to_string(static_cast<int>(chunk)) + "s → ");

    expectEveryWord(finishAtTheEnd()); // nothing lost or doubled at the cut
    EXPECT_EQ(decodeKinds(), (std::vector<std::string>{"chunk", "tail"}));
    EXPECT_CONTAINS(log.text(), "(1 chunk pre-cached)");
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
    expectEveryWord(text);
    EXPECT_CONTAINS(log.text(), "(3 chunks pre-cached)\n"); // one chunk: the hard-cut test

    std::vector<std::string> chunkFiles;
    for (const auto& clip : decodes()) {
        const DecodeRoute expected = clip.kind == "chunk"  ? DecodeRoute::CloudPreferred
                                     : clip.kind == "spec" ? DecodeRoute::LocalOnly
                                                           : DecodeRoute::Auto;
        EXPECT_EQ(clip.route, expected) << clip.kind;
        if (clip.kind == "chunk") {
            chunkFiles.push_back(clip.file);
        } else {
            EXPECT_EQ(clip.file, "vak_chunk_1_" + clip.kind + ".wav");
        }
        EXPECT_EQ(clip.text.find('~'), std::string::npos) << "a word was cut: " << clip.text;
    }
    // Chunk clips are numbered by the chunk they complete, from 0.
    for (const auto& file : chunkFiles)
        EXPECT_TRUE(file == "vak_chunk_1_0.wav" || file == "vak_chunk_1_1.wav" ||
                    file == "vak_chunk_1_2.wav")
            << file;
    // The listener heard the chunks so far and the speculative tail, one per line: the start of
    // the transcript.
    ASSERT_FALSE(prospective.empty());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->find(prospective.back() + "\n"), 0u);
    expectNoScratchLeft();
}

// Speech with only short pauses between phrases is pre-decoded in pieces cut to the engine's cost,
// each ending in a pause between phrases: long ones for whisper, which pays a whole window per
// call, short ones for an engine whose cost follows the clip, so the decode left at the stop stays
// short either way; a chunk then takes those texts over and ends where they end, decoding nothing.
TEST_F(ChunkEngineTest, SpeechIsPreDecodedAtItsPausesInPiecesCutToTheEngineAndChunksReuseThem) {
    struct Case {
        SpeechEngine engine;
        double shortest; // of the pieces
        double longest;
        long pieces; // at least
    };
    const Case cases[] = {
        {SpeechEngine::Whisper, 6.0, 15.0, 2},
        {SpeechEngine::Parakeet, 2.0, 8.0, 6},
    };
    std::vector<std::pair<int, double>> phrases;
    for (int i = 0; i < 14; ++i)
        phrases.push_back({5 + i % 4, 0.7});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(engineName(c.engine)));
        settings.cost = decodeCostShape(c.engine);
        decoder = std::make_shared<ToneDecoder>();
        resetEngine();
        const LogCapture caseLog;
        record(speech(phrases));
        const double end = dictation.seconds();
        ASSERT_GT(end, 38.0);
        for (double t = 2; t < end; t += 2) {
            if (t == 30) fireAt(t);
            specAt(t);
        }
        expectEveryWord(finishAtTheEnd());
        EXPECT_CONTAINS(caseLog.text(), "s pre-decoded)\n"); // the chunk took the texts over
        const auto kinds = decodeKinds();
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "chunk"), 0);
        EXPECT_GE(std::count(kinds.begin(), kinds.end(), "spec"), c.pieces);
        // None so long that the stop would wait for it; each ends between words.
        for (const auto& clip : decodes()) {
            if (clip.kind == "spec") {
                EXPECT_GE(clip.seconds, c.shortest);
            }
            EXPECT_LT(clip.seconds, c.longest) << clip.kind;
            EXPECT_EQ(clip.text.find('~'), std::string::npos) << "a word was cut: " << clip.text;
        }
        expectNoScratchLeft();
    }
}

TEST_F(ChunkEngineTest, APreDecoderThatFailsOnSpeechIsNotAskedAgainEveryTwoSeconds) {
    std::vector<std::pair<int, double>> phrases;
    for (int i = 0; i < 8; ++i)
        phrases.push_back({6, 0.7});
    record(speech(phrases));
    int calls = 0;
    engine().setTranscribe([&calls](const DecodeRequest&) {
        ++calls;
        return std::optional<std::string>();
    });
    for (double t = 2; t < 20; t += 2)
        specAt(t);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(finishAtTheEnd(), std::nullopt);
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
        // A pause from 3.8 s; the pass at 6 s pre-decodes; the stop 1.3 s later finds silence.
        {"stop in the pause", {{10, 4.0}}, 7.3, {"spec"}, true},
        // The user speaks again after the pre-decoded pause: only the new words are decoded.
        {"speech resumed", {{10, 3.5}, {5, 0.3}}, 0, {"spec", "tail"}, false},
        // Still silent, but more than 3 s after the pre-decode: that stretch is decoded.
        {"stop long after", {{10, 6.0}}, 0, {"spec", "tail"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        record(speech(c.phrases));
        const auto before = decodes().size();
        const LogCapture caseLog;
        for (double t : {2.0, 4.0, 6.0, 8.0, 10.0})
            if (t < dictation.seconds() && (c.stopAt == 0 || t < c.stopAt)) specAt(t);
        at(c.stopAt == 0 ? dictation.seconds() : c.stopAt);
        expectEveryWord(finish());
        std::vector<std::string> kinds = decodeKinds();
        kinds.erase(kinds.begin(), kinds.begin() + static_cast<long>(before));
        EXPECT_EQ(kinds, c.decodes);
        EXPECT_EQ(caseLog.text().find("⚡ tail was pre-decoded — zero decode wait at stop\n") !=
                      std::string::npos,
                  c.zeroWait);
        if (!c.zeroWait) {
            EXPECT_CONTAINS(caseLog.text(), "(0 chunks pre-cached)\n");
            // The decode at the stop covers what came after the pre-decoded part, not all.
            EXPECT_LT(decodes().back().seconds, 6.0);
        }
    }
}

TEST_F(ChunkEngineTest, AFailedChunkAbandonsTheWholeCacheForGood) {
    record(natural(150, 3));
    decoder->failing.insert(1);
    fireAt(30);
    fireAt(60);
    EXPECT_CONTAINS(log.text(),
                    "⚠️ chunk decode failed — cache abandoned, will full-decode at stop\n");
    fireAt(90);
    for (double t = 92; t < 120; t += 2)
        specAt(t);
    fireAt(120);
    EXPECT_EQ(decodeKinds(), (std::vector<std::string>{"chunk", "chunk"}));
    EXPECT_EQ(finishAtTheEnd(), std::nullopt); // never a partial transcript
    EXPECT_EQ(decodes().size(), 2u);
}

TEST_F(ChunkEngineTest, TwoCachedChunksAndATenthOfASecondFinishWithoutADecode) {
    record(natural(75, 11));
    fireAt(30);
    fireAt(60);
    const auto clips = decodes();
    ASSERT_EQ(clips.size(), 2u);
    // The recording stops 0.1 s after the second cut.
    const auto cutBytes =
        static_cast<off_t>(std::llround((clips[0].seconds + clips[1].seconds) * 32000));
    ASSERT_EQ(::truncate(recording->path().c_str(), 44 + cutBytes + 3200), 0);
    EXPECT_EQ(finish(), clips[0].text + "\n" + clips[1].text);
    EXPECT_EQ(decodes().size(), 2u);
    EXPECT_EQ(log.text().find("tail decoded"), std::string::npos);
}

TEST_F(ChunkEngineTest, TheTimersCutAndPreDecodeWhileTheRecordingGrows) {
    settings.timeScale = 0.02; // chunks every 0.6 s, pauses checked every 0.04 s
    record(natural(75, 9));
    engine().start(recording->path(), 1);
    // Audio arrives 50 times faster than speech, as the timers run 50 times faster.
    const auto start = SteadyClock::now();
    for (double heard = 0; heard < dictation.seconds(); heard = secondsSince(start) * 50) {
        at(heard);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    at(dictation.seconds());
    expectEveryWord(finish());
    const auto made = decodeKinds();
    EXPECT_CONTAINS(log.text(), "· chunk 1 cached · ");
    EXPECT_GE(std::count(made.begin(), made.end(), "spec"), 1);
    // Finished: the timers are gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(decodes().size(), made.size());
}

// A pre-decode running at the stop is ended when the stop decode covers its audio anyway (words
// were said after it), so the stop decode starts at once — here, with nothing else cached, the
// caller's decode of the whole recording; it is waited for when its text is all the stop needs
// (the pause it decodes lasted to the stop).
TEST_F(ChunkEngineTest, ThePreDecodeRunningAtTheStopIsEndedOnlyWhenItsTextIsNotNeeded) {
    struct Case {
        std::vector<std::pair<int, double>> phrases;
        bool ended;
        std::vector<std::string> kinds; // of the decodes that gave text
    };
    const Case cases[] = {
        {{{10, 2.0}, {6, 0.3}}, true, {}},
        {{{10, 2.0}}, false, {"spec"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phrases.size());
        decoder = std::make_shared<ToneDecoder>();
        decoder->preDecodeSeconds = 3;
        resetEngine();
        record(speech(c.phrases));
        at(0.3 + 10 * 0.36 + 1.9); // in the first pause
        std::thread pass([this] { engine().simSpec(); });
        while (!decoder->preDecodeStarted.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto stop = SteadyClock::now();
        const auto text = finishAtTheEnd();
        const double waited = secondsSince(stop);
        pass.join();
        if (c.ended) {
            EXPECT_FALSE(text);
        } else {
            expectEveryWord(text);
        }
        EXPECT_EQ(decodeKinds(), c.kinds);
        EXPECT_EQ(decoder->preDecodesEnded.load(), c.ended ? 1 : 0);
        if (c.ended) {
            EXPECT_LT(waited, 1.5);
            EXPECT_CONTAINS(log.text(), "ended at the stop — the stop decode covers it");
        } else {
            EXPECT_GT(waited, 2.0);
        }
        expectNoScratchLeft();
    }
}

TEST_F(ChunkEngineTest, CancelStopsTheTimersWithoutACompletion) {
    settings.timeScale = 0.02;
    record(natural(60, 2));
    at(60);
    engine().start(recording->path(), 1);
    engine().cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // over a chunk period
    EXPECT_TRUE(decodes().empty());
}

// Whole dictations on the daemon's timer schedule, each decode taking as long as a real decoder
// would (ticks that fall into a decode run late): every word comes back; a stop in the pause
// after the pre-decode waits for no decode; words after a short last pause leave the stop only
// what the engine's pieces had not reached, and the wait is that decode's alone.
TEST(ChunkReplay, DictationsComeBackWordForWordAndTheStopDecodesOnlyWhatThePiecesLeft) {
    struct Case {
        const char* name;
        SpeechEngine engine;
        replay::DecoderCost cost;
        double lastPause;   // before the last words
        bool stopInPause;   // stop after the pre-decode of that pause, before the last words
        double longestTail; // of the decode at the stop, in seconds of audio
        double busiest;     // decoder seconds per second of recording
    };
    const Case cases[] = {
        {"whisper, stop in the pause", SpeechEngine::Whisper, {}, 4, true, 0, 1},
        {"whisper, words after a short pause", SpeechEngine::Whisper,
         replay::DecoderCost::whisper(2, false), 0.7, false, 16, 0.5},
        {"cost follows the clip, words after a short pause", SpeechEngine::Parakeet,
         replay::DecoderCost::followingClip(0.2, 0.2), 0.7, false, 8, 0.5},
    };
    test::TempDir scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto spoken = natural(120, 4);
        spoken.silence(c.lastPause);
        spoken.say(std::vector<std::size_t>{1, 2, 3, 4, 5, 6});
        replay::Options options;
        options.scratchDir = scratch.path();
        options.cost = c.cost;
        options.shape = decodeCostShape(c.engine);
        if (c.stopInPause) {
            options.stop.stopAfterSpeculativeFrom = spoken.seconds();
            spoken.silence(6);
        } else {
            spoken.silence(0.3);
        }
        const LogCapture log;
        const auto result = replay::run(spoken.samples(), options);
        ASSERT_TRUE(result.text);
        EXPECT_EQ(tone::wordsOf(*result.text), tone::wordsOf(spoken.text()));
        EXPECT_CONTAINS(log.text(), "· chunk 3 cached · ");
        EXPECT_LE(result.busySeconds(), c.busiest * result.stopAt);
        if (c.stopInPause) {
            EXPECT_LT(result.stopAt, spoken.seconds());
            EXPECT_EQ(result.count("tail"), 0u);
            EXPECT_CONTAINS(log.text(), "⚡ tail was pre-decoded");
            continue;
        }
        ASSERT_EQ(result.count("tail"), 1u);
        const auto& tail = result.decodes.back();
        EXPECT_LE(tail.clipSeconds, c.longestTail);
        // Nothing else was left running at the stop: the wait is the tail's own decode.
        EXPECT_NEAR(result.wait(), tail.seconds, 0.01);
    }
}

} // namespace
} // namespace vak
