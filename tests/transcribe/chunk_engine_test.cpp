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
#include <filesystem>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;

struct HeardClip {
    std::string kind; // "chunk", "spec" or "tail", from the name
    DecodeRoute route;
    double seconds = 0;
    std::string text;
};

// Hears the tone words of each clip in this process and notes every call; the chunk decode
// numbered `failingChunk` (from 0) fails. A pre-decode takes `preDecodeSeconds`, unless it is
// ended sooner, as the real one's process is: then it gives nothing.
struct ToneDecoder {
    std::optional<std::string> operator()(const DecodeRequest& request) {
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
        const auto samples = tone::readWavSamples(request.wav);
        HeardClip clip{request.textBase.substr(request.textBase.rfind('_') + 1), request.route, 0,
                       ""};
        if (clip.kind != "spec" && clip.kind != "tail") clip.kind = "chunk";
        if (samples) {
            clip.seconds = static_cast<double>(samples->size()) / tone::kSampleRate;
            clip.text = tone::transcriptOf(*samples);
        }
        std::lock_guard lock(mutex);
        const bool fail = clip.kind == "chunk" && chunks++ == failingChunk;
        heard.push_back(clip);
        return fail || !samples ? std::nullopt : std::optional(clip.text);
    }

    std::mutex mutex;
    std::vector<HeardClip> heard;
    int failingChunk = -1;
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

tone::Dictation natural(double seconds, std::uint32_t seed, bool pauses = true) {
    tone::DictationPlan plan;
    plan.seconds = seconds;
    plan.seed = seed;
    plan.pauses = pauses;
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
    void reset() {
        engine_.reset();
        decoder = std::make_shared<ToneDecoder>();
    }
    std::vector<HeardClip> decodes() const {
        std::lock_guard lock(decoder->mutex);
        return decoder->heard;
    }
    std::vector<std::string> kinds() const {
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
    std::optional<std::string> finish(double at = 0) {
        this->at(at ? at : dictation.seconds());
        std::promise<std::optional<std::string>> done;
        engine().finish([&done](std::optional<std::string> text) { done.set_value(text); });
        return done.get_future().get();
    }
    // Every word said came back, once, in order; no piece was cut through a word; only the
    // recording is left in the scratch folder.
    void expectEveryWord(const std::optional<std::string>& text) const {
        ASSERT_TRUE(text);
        EXPECT_EQ(tone::wordsOf(*text), tone::wordsOf(dictation.text()));
        for (const auto& clip : decodes())
            EXPECT_EQ(clip.text.find('~'), std::string::npos) << "a word was cut: " << clip.text;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
            EXPECT_EQ(entry.path().filename(), "vak_rec_1.wav");
    }

    test::TempDir scratch;
    ChunkSettings settings = ChunkSettings::from(Config{}, ScratchFiles(scratch.path()));
    std::shared_ptr<ToneDecoder> decoder = std::make_shared<ToneDecoder>();
    tone::Dictation dictation;
    std::unique_ptr<replay::GrowingRecording> recording;
    LogCapture log;

  private:
    std::shared_ptr<ChunkEngine> engine_;
};

TEST_F(ChunkEngineTest, SpeechWithoutPausesIsCutAtTheThirdTickBetweenTwoWords) {
    record(natural(100, 1, false));
    fireAt(30);
    fireAt(60);
    EXPECT_TRUE(decodes().empty()); // no pause yet, and not three chunks long
    fireAt(90);
    ASSERT_EQ(kinds(), std::vector<std::string>{"chunk"});
    EXPECT_EQ(decodes()[0].route, DecodeRoute::CloudPreferred);
    EXPECT_GT(decodes()[0].seconds, 82.0); // within the last 8 seconds
    EXPECT_LT(decodes()[0].seconds, 90.0); // not through the word being spoken at the tick
    expectEveryWord(finish());             // nothing lost or doubled at the cut
    EXPECT_EQ(kinds(), (std::vector<std::string>{"chunk", "tail"}));
}

// Speech with only short pauses is pre-decoded in pieces that end in pauses between phrases:
// long ones for whisper, which pays a whole window per call, short ones for an engine whose cost
// follows the clip, none so long that the stop would wait for it; a chunk takes their texts over.
// The listener hears the texts so far, one per line: the start of the transcript.
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
        phrases.emplace_back(5 + i % 4, 0.7);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(engineName(c.engine)));
        settings.cost = decodeCostShape(c.engine);
        reset();
        const LogCapture caseLog;
        record(speech(phrases));
        std::vector<std::string> prospective;
        engine().setOnSpecTranscript([&](const std::string& text) { prospective.push_back(text); });
        for (double t = 2; t < dictation.seconds(); t += 2) {
            if (t == 30) fireAt(t);
            specAt(t);
        }
        const auto text = finish();
        expectEveryWord(text);
        ASSERT_FALSE(prospective.empty());
        EXPECT_EQ(text->find(prospective.back() + "\n"), 0u);
        EXPECT_CONTAINS(caseLog.text(), "s pre-decoded)\n");
        const auto made = kinds();
        EXPECT_EQ(std::count(made.begin(), made.end(), "chunk"), 0);
        EXPECT_GE(std::count(made.begin(), made.end(), "spec"), c.pieces);
        for (const auto& clip : decodes()) {
            EXPECT_GE(clip.seconds, clip.kind == "spec" ? c.shortest : 0);
            EXPECT_LT(clip.seconds, c.longest) << clip.kind;
            EXPECT_EQ(clip.route, clip.kind == "spec" ? DecodeRoute::LocalOnly : DecodeRoute::Auto);
        }
    }
}

// The speculative tail stands alone only when nothing was said after it; else the decode at the
// stop covers what came after the pre-decoded part, not all.
TEST_F(ChunkEngineTest, TheSpeculativeTailStandsAloneOnlyWhenNothingWasSaidAfterIt) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, double>> phrases;
        double stopAt; // 0: at the end
        std::vector<std::string> decodes;
    };
    const std::vector<Case> cases = {
        {"stop in the pre-decoded pause", {{10, 4.0}}, 7.3, {"spec"}},
        {"speech resumed after it", {{10, 3.5}, {5, 0.3}}, 0, {"spec", "tail"}},
        {"stop more than 3 s after it", {{10, 6.0}}, 0, {"spec", "tail"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        record(speech(c.phrases));
        const LogCapture caseLog;
        for (double t = 2; t < std::min(dictation.seconds(), c.stopAt ? c.stopAt : 10.5); t += 2)
            specAt(t);
        expectEveryWord(finish(c.stopAt));
        EXPECT_EQ(kinds(), c.decodes);
        const bool alone = c.decodes.size() == 1;
        EXPECT_EQ(caseLog.text().find("⚡ tail was pre-decoded — zero decode wait at stop\n") !=
                      std::string::npos,
                  alone);
        EXPECT_LT(decodes().back().seconds, alone ? 10.0 : 6.0);
    }
}

TEST_F(ChunkEngineTest, AFailedChunkAbandonsTheWholeCacheForGood) {
    record(natural(150, 3));
    decoder->failingChunk = 1;
    fireAt(30);
    fireAt(60);
    EXPECT_CONTAINS(log.text(),
                    "⚠️ chunk decode failed — cache abandoned, will full-decode at stop\n");
    fireAt(90);
    for (double t = 92; t < 120; t += 2)
        specAt(t);
    fireAt(120);
    EXPECT_EQ(finish(), std::nullopt); // never a partial transcript
    EXPECT_EQ(kinds(), (std::vector<std::string>{"chunk", "chunk"}));
}

// A pre-decode running at the stop is ended when the stop decode covers its audio anyway (words
// were said after it); it is waited for when its text is all the stop needs.
TEST_F(ChunkEngineTest, ThePreDecodeRunningAtTheStopIsEndedOnlyWhenItsTextIsNotNeeded) {
    struct Case {
        std::vector<std::pair<int, double>> phrases;
        bool ended;
    };
    const Case cases[] = {{{{10, 2.0}, {6, 0.3}}, true}, {{{10, 2.0}}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ended);
        reset();
        decoder->preDecodeSeconds = 3;
        record(speech(c.phrases));
        at(0.3 + 10 * 0.36 + 1.9); // in the first pause
        std::thread pass([this] { engine().simSpec(); });
        while (!decoder->preDecodeStarted.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto stop = SteadyClock::now();
        const auto text = finish();
        const double waited = secondsSince(stop);
        pass.join();
        EXPECT_EQ(decoder->preDecodesEnded.load(), c.ended ? 1 : 0);
        if (c.ended) {
            // With nothing else cached, the stop leaves the whole recording to the caller.
            EXPECT_FALSE(text);
            EXPECT_TRUE(decodes().empty());
            EXPECT_LT(waited, 1.5);
            EXPECT_CONTAINS(log.text(), "ended at the stop — the stop decode covers it");
        } else {
            expectEveryWord(text);
            EXPECT_EQ(kinds(), std::vector<std::string>{"spec"});
            EXPECT_GT(waited, 2.0);
        }
    }
}

} // namespace
} // namespace vak
