#pragma once

#include "base/timed_queue.h"
#include "foundation/config.h"
#include "foundation/scratch_files.h"
#include "transcribe/decode_cost.h"
#include "transcribe/decode_router.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vak {

struct ProcessValues;

// What the chunk engine reads: CHUNK_SECONDS, SPECULATIVE and where its clips go.
struct ChunkSettings {
    double chunkSeconds{};
    bool speculative{};
    ScratchFiles scratch;
    // Multiplies the timer periods (fast tests); decodes are not affected.
    double timeScale = 1.0;
    // The decode engine's cost shape, which the pieces are cut to; the process's decode model's
    // engine in from(ProcessValues).
    DecodeCostShape cost = decodeCostShape(SpeechEngine::Whisper);

    // Below 20 seconds rolling transcription is off.
    bool enabled() const { return chunkSeconds >= 20; }

    static ChunkSettings from(const Config& config, const ScratchFiles& scratch);
    static ChunkSettings from(const ProcessValues& values);
};

// Transcribes a recording while it is still being made, so a long dictation pastes seconds
// after the stop. Every CHUNK_SECONDS it cuts the finished audio at a pause and decodes that
// chunk (preferring the cloud engine); every 2 seconds it looks for a pause at the end of the
// recording and, once per pause, decodes the audio not yet covered (locally) — the speculative
// tail. At stop, finish() joins the chunk texts, the speculative tail and a decode of whatever
// came after it; when the pause lasted to the stop, no decode is left at all.
//
// The speculative tail ends in the middle of the pause it was decoded in, so the words after it
// never straddle its end; each later pause extends it with only the new audio, and so does the
// longest pause of a stretch of speech not covered yet, so that the decode left at the stop stays
// short. How long that stretch is follows the engine's cost shape (decode_cost.h): for whisper,
// which pays a whole encoder pass for every piece and hears a short one worse, 12 seconds; for
// an engine whose cost follows the clip, a few seconds, so that the stop is left only the words
// after the last pause. A chunk takes over the texts the tail holds for its audio and ends where
// they end, unless a long stretch is left after them.
//
// All work runs on one serial queue ("vak.chunks" in the daemon; a replay's virtual clock): cuts,
// speculative passes and finish never overlap, and a finish queued behind a running decode waits
// for it — except a pre-decode whose audio the stop decode will cover within the same encoder
// window: that one is ended at the stop, so the stop decode starts at once. A chunk decode that
// fails
// abandons the whole cache for good (finish then reports nothing and the caller decodes the
// whole recording).
class ChunkEngine final : public std::enable_shared_from_this<ChunkEngine> {
  public:
    // The decoder, given by setTranscribe; until then every decode gives nothing. Chunks ask for
    // the cloud first, speculative pieces for the local engine only, the tail at the stop for
    // either.
    using Transcribe = std::function<std::optional<std::string>(const DecodeRequest& request)>;
    using SpecListener = std::function<void(const std::string& prospectiveText)>;
    using Completion = std::function<void(std::optional<std::string> text)>;

    // Runs on `queue`, or on a serial queue of its own when none is given.
    static std::shared_ptr<ChunkEngine> create(ChunkSettings settings,
                                               std::shared_ptr<TimedQueue> queue = nullptr);
    ChunkEngine(const ChunkEngine&) = delete;
    ChunkEngine& operator=(const ChunkEngine&) = delete;

    bool enabled() const { return settings_.enabled(); }

    // Starts on the growing recording `wav` of session `session`; nothing unless enabled. The
    // engines that decode its chunks are noted on `trail`.
    void start(const std::string& wav, int session, std::shared_ptr<DecodeTrail> trail = nullptr);
    // Stops the timers and calls `completion` exactly once, on the engine's queue, with the
    // transcript, or with nothing when the caller must decode the whole recording itself.
    void finish(Completion completion);
    // Stops the timers; no completion.
    void cancel();
    // What finish does first, on the caller's thread: ends a running pre-decode when the stop
    // decode can cover its audio in the same encoder window and it has most of its work still
    // ahead of it, rather than waiting for it. True when it ended one. A replay calls it with the
    // time of its stop on the queue's clock.
    bool endPreDecodeForStop(std::optional<double> stopAt = std::nullopt);

    void setTranscribe(Transcribe transcribe);
    // Cuts the pieces from the next pass on to another engine's cost shape (the decode model was
    // switched).
    void useCostShape(const DecodeCostShape& cost);
    // Told the prospective full text (chunks and speculative tail, one per line) after each
    // speculative decode; called on the engine's queue.
    void setOnSpecTranscript(SpecListener listener);

    // Synchronous forms for replaying a file: reset without timers, run one cut (only when
    // enabled), run one speculative pass; each waits for its work.
    void simStart(const std::string& wav, int session);
    void simFire();
    void simSpec();

  private:
    struct Recording;

    ChunkEngine(ChunkSettings settings, std::shared_ptr<TimedQueue> queue);
    void reset(const std::string& wav, int session);
    void stopTimers();
    std::optional<Recording> openRecording();
    void cut();
    void specPass();
    std::optional<std::string> finishText();
    std::optional<std::string> decode(const Recording& recording, std::uint64_t from,
                                      std::uint64_t to, const std::string& name, DecodeRoute route,
                                      double& seconds, const std::atomic<bool>* cancel = nullptr);
    std::string prospectiveText() const;
    void dropSpeculative();

    const ChunkSettings settings_;
    const std::shared_ptr<TimedQueue> queue_;
    // Everything below is touched only on queue_.
    TimerHandle timer_;
    TimerHandle specTimer_;
    int generation_ = 0;
    std::string wavPath_;
    int sessionN_ = 0;
    std::shared_ptr<DecodeTrail> trail_;
    std::optional<std::uint64_t> dataOffset_;
    std::uint64_t lastCutByte_ = 0;
    std::vector<std::string> texts_;
    int chunkIndex_ = 0;
    bool failed_ = false;
    // The speculative tail: one text per pause, together covering [specFrom_, specTo_).
    std::vector<std::string> specTexts_;
    std::vector<std::uint64_t> specStarts_; // where each of them begins
    std::uint64_t specFrom_ = 0;
    std::uint64_t specTo_ = 0;
    std::uint64_t specSeenTo_ = 0; // how far the recording reached at the last speculative decode
    bool specArmed_ = true;
    bool stretchPreDecodes_ = true; // off after a failed pre-decode of a stretch of speech
    PieceSchedule schedule_;
    SpecListener onSpecTranscript_;
    Transcribe transcribe_;

    // The pre-decode running now, for a stop that comes from another thread.
    struct RunningPreDecode {
        std::string wav;
        std::uint64_t dataOffset = 0;
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        std::uint64_t seenTo = 0;
        double startedAt = 0;             // on the queue's clock
        double expectedSeconds = 0;       // what the last pre-decode took; 0 before the first
        std::uint64_t endWithinBytes = 0; // PieceSchedule::endAtStopWithinSeconds
    };
    std::mutex runningMutex_;
    std::optional<RunningPreDecode> running_;
    double lastPreDecodeSeconds_ = 0; // on queue_
    std::atomic<bool> abandonRunning_{false};
};

} // namespace vak
