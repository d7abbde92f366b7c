#include "transcribe/chunk_engine.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/serial_queue.h"
#include "foundation/process_values.h"
#include "text/words.h"
#include "transcribe/decode_router.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>

namespace vak {

namespace {

constexpr double kSpecPeriodSeconds = 2;
constexpr std::uint64_t kCutLookbackBytes = 8 * kBytesPerSecond;
constexpr std::uint64_t kRecentBytes = 51200;                 // 1.6 s: is the recording pausing?
constexpr std::uint64_t kOverallBytes = 10 * kBytesPerSecond; // against the last 10 s
constexpr std::uint64_t kNegligibleTailBytes = 6400;          // 0.2 s: nothing worth a decode
constexpr std::uint64_t kSpecFreshBytes = 3 * kBytesPerSecond;
constexpr double kSilentAfterSpecRms = 300;
// No piece shorter than this is decoded: whisper makes up words ("Thank you.") for a near-empty
// clip. A sliver is left to the next piece, or joined to the one before it.
constexpr std::uint64_t kMinPieceBytes = kBytesPerSecond;
// Where the engine's fixed part covers a pre-decode's audio, decoding it again at the stop costs
// only its words, about a fifth of the pre-decode's own time. So a pre-decode with more than that
// still to do is ended at the stop rather than waited for.
constexpr double kWorthEndingBefore = 0.75; // of the expected time, done

std::string wholeSeconds(std::uint64_t bytes) {
    return std::to_string(bytes / kBytesPerSecond);
}

std::uint64_t evenBytes(double seconds) {
    return static_cast<std::uint64_t>(std::max(seconds, 0.0) * kBytesPerSecond) & ~std::uint64_t{1};
}

} // namespace

struct ChunkEngine::Recording {
    UniqueFd fd;
    std::uint64_t dataOffset = 0;
    std::uint64_t avail = 0; // sample bytes on disk, even
};

ChunkSettings ChunkSettings::from(const Config& config, const ScratchFiles& scratch) {
    ChunkSettings s;
    s.chunkSeconds = config.chunkSeconds;
    s.speculative = config.speculative;
    s.scratch = scratch;
    return s;
}

ChunkSettings ChunkSettings::from(const ProcessValues& values) {
    ChunkSettings s = from(values.cfg, values.scratch);
    s.cost = decodeCostShape(engineOfModel(values.MODEL));
    return s;
}

std::shared_ptr<ChunkEngine> ChunkEngine::create(ChunkSettings settings,
                                                 std::shared_ptr<TimedQueue> queue) {
    if (!queue) queue = std::make_shared<SerialQueue>("vak.chunks");
    return std::shared_ptr<ChunkEngine>(new ChunkEngine(std::move(settings), std::move(queue)));
}

ChunkEngine::ChunkEngine(ChunkSettings settings, std::shared_ptr<TimedQueue> queue)
    : settings_(std::move(settings)), queue_(std::move(queue)),
      schedule_(pieceSchedule(settings_.cost)) {}

void ChunkEngine::start(const std::string& wav, int session, std::shared_ptr<DecodeTrail> trail) {
    if (!enabled()) return;
    std::weak_ptr<ChunkEngine> weak = weak_from_this();
    queue_->async([weak, wav, session, trail = std::move(trail)] {
        const auto self = weak.lock();
        if (!self) return;
        const int generation = ++self->generation_;
        self->reset(wav, session);
        self->trail_ = trail;
        // Stale firings (after finish, cancel or a newer start) and firings after a failed
        // chunk do nothing.
        const auto current = [weak, generation]() -> std::shared_ptr<ChunkEngine> {
            auto engine = weak.lock();
            if (engine && engine->generation_ == generation && !engine->failed_) return engine;
            return nullptr;
        };
        const double chunkPeriod = self->settings_.timeScale * self->settings_.chunkSeconds;
        const double specPeriod = self->settings_.timeScale * kSpecPeriodSeconds;
        self->timer_ = self->queue_->repeating(
            chunkPeriod,
            [current] {
                if (const auto engine = current()) engine->cut();
            },
            chunkPeriod);
        self->specTimer_ = self->queue_->repeating(
            specPeriod,
            [current] {
                if (const auto engine = current()) engine->specPass();
            },
            specPeriod);
    });
}

void ChunkEngine::finish(Completion completion) {
    endPreDecodeForStop();
    // Holds the engine until the completion has been called: it is called exactly once.
    queue_->async([self = shared_from_this(), completion = std::move(completion)] {
        ++self->generation_;
        self->stopTimers();
        auto text = self->finishText();
        if (completion) completion(std::move(text));
    });
}

void ChunkEngine::cancel() {
    std::weak_ptr<ChunkEngine> weak = weak_from_this();
    queue_->async([weak] {
        if (const auto self = weak.lock()) {
            ++self->generation_;
            self->stopTimers();
        }
    });
}

bool ChunkEngine::endPreDecodeForStop(std::optional<double> stopAt) {
    std::lock_guard lock(runningMutex_);
    if (!running_) return false;
    const double done = stopAt.value_or(queue_->now()) - running_->startedAt;
    if (running_->expectedSeconds > 0 && done > kWorthEndingBefore * running_->expectedSeconds)
        return false;
    const UniqueFd fd(::open(running_->wav.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) return false;
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    const std::uint64_t avail =
        size > running_->dataOffset ? (size - running_->dataOffset) & ~std::uint64_t{1} : 0;
    // Its pause lasted to the stop: its text is all the stop needs, the sooner the better.
    if (avail < running_->seenTo ||
        (avail - running_->seenTo <= kSpecFreshBytes &&
         rangeRMS(fd.get(), running_->dataOffset, running_->to, avail) < kSilentAfterSpecRms))
        return false;
    // Beyond the fixed part's reach, decoding its audio again costs the stop more than its words.
    if (avail - running_->from > running_->endWithinBytes) return false;
    abandonRunning_.store(true);
    return true;
}

void ChunkEngine::setTranscribe(Transcribe transcribe) {
    std::weak_ptr<ChunkEngine> weak = weak_from_this();
    queue_->async([weak, transcribe = std::move(transcribe)]() mutable {
        if (const auto self = weak.lock()) self->transcribe_ = std::move(transcribe);
    });
}

void ChunkEngine::useCostShape(const DecodeCostShape& cost) {
    std::weak_ptr<ChunkEngine> weak = weak_from_this();
    queue_->async([weak, schedule = pieceSchedule(cost)] {
        if (const auto self = weak.lock()) self->schedule_ = schedule;
    });
}

void ChunkEngine::setOnSpecTranscript(SpecListener listener) {
    std::weak_ptr<ChunkEngine> weak = weak_from_this();
    queue_->async([weak, listener = std::move(listener)]() mutable {
        if (const auto self = weak.lock()) self->onSpecTranscript_ = std::move(listener);
    });
}

void ChunkEngine::simStart(const std::string& wav, int session) {
    queue_->sync([this, &wav, session] {
        ++generation_;
        reset(wav, session);
    });
}

void ChunkEngine::simFire() {
    if (!enabled()) return;
    queue_->sync([this] {
        if (!failed_) cut();
    });
}

void ChunkEngine::simSpec() {
    queue_->sync([this] {
        if (!failed_) specPass();
    });
}

void ChunkEngine::stopTimers() {
    timer_.cancel();
    timer_ = {};
    specTimer_.cancel();
    specTimer_ = {};
}

void ChunkEngine::reset(const std::string& wav, int session) {
    stopTimers();
    wavPath_ = wav;
    sessionN_ = session;
    trail_.reset();
    dataOffset_.reset();
    lastCutByte_ = 0;
    texts_.clear();
    chunkIndex_ = 0;
    failed_ = false;
    dropSpeculative();
    specArmed_ = true;
    stretchPreDecodes_ = true;
    lastPreDecodeSeconds_ = 0;
}

void ChunkEngine::dropSpeculative() {
    specTexts_.clear();
    specStarts_.clear();
    specFrom_ = specTo_ = specSeenTo_ = 0;
}

std::optional<ChunkEngine::Recording> ChunkEngine::openRecording() {
    if (!dataOffset_) dataOffset_ = findWavDataOffset(wavPath_).value_or(kAssumedDataOffset);
    UniqueFd fd(::open(wavPath_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    if (size <= *dataOffset_) return std::nullopt;
    return Recording{std::move(fd), *dataOffset_, (size - *dataOffset_) & ~std::uint64_t{1}};
}

std::optional<std::string> ChunkEngine::decode(const Recording& recording, std::uint64_t from,
                                               std::uint64_t to, const std::string& name,
                                               DecodeRoute route, double& seconds,
                                               const std::atomic<bool>* cancel) {
    const std::string base = settings_.scratch.chunkBase(sessionN_, name);
    const std::string wav = base + ".wav";
    copyWavRange(recording.fd.get(), recording.dataOffset, from, to, wav);
    // On the queue's clock: a replay's decoder may take modelled time.
    const double start = queue_->now();
    std::optional<std::string> text;
    try {
        if (transcribe_) text = transcribe_({wav, base, route, trail_, cancel});
    } catch (...) {
        // A decoder that throws counts as one that failed.
    }
    seconds = queue_->now() - start;
    removeFile(wav);
    removeFile(base + ".txt");
    return text;
}

void ChunkEngine::cut() {
    const auto recording = openRecording();
    const std::uint64_t c = lastCutByte_;
    if (!recording || recording->avail <= c) return;
    const std::uint64_t avail = recording->avail;
    const std::uint64_t pending = avail - c;
    const std::uint64_t chunkBytes = evenBytes(settings_.chunkSeconds);
    if (chunkBytes == 0 || pending * 4 < chunkBytes * 3) return;

    auto point =
        quietCutPoint(recording->fd.get(), recording->dataOffset, c, avail, kCutLookbackBytes);
    if (!point) {
        if (pending < 3 * chunkBytes) return; // a pause may still come
        // Speech without a pause for three chunk lengths: cut anyway, between two words if the
        // last seconds allow, never through the word being spoken right now.
        point = quietestPoint(recording->fd.get(), recording->dataOffset, c + kBytesPerSecond,
                              avail, kCutLookbackBytes)
                    .value_or(avail);
        log(LogLevel::info, "chunk " + std::to_string(chunkIndex_ + 1) + ": no pause in " +
                                wholeSeconds(pending) + "s — hard cut");
    }

    // What the speculative tail covers is decoded already: the chunk takes those texts and only
    // the audio after them is decoded; when they reach the cut, the chunk ends where they end,
    // in the pause they were decoded in, and nothing is decoded.
    std::vector<std::string> parts;
    std::uint64_t from = c;
    if (!specTexts_.empty() && specFrom_ == c) {
        parts = specTexts_;
        from = specTo_;
        // What the pre-decoded tail leaves before the pause stays for the next chunk, unless it
        // is a stretch of its own: a short piece would cost a decode and be heard worse.
        if (*point <= specTo_ || *point - specTo_ < evenBytes(schedule_.stretchSeconds))
            point = specTo_;
    }
    double seconds = 0;
    if (from < *point) {
        auto text = decode(*recording, from, *point, std::to_string(chunkIndex_),
                           DecodeRoute::CloudPreferred, seconds);
        if (!text) {
            failed_ = true;
            timer_.cancel();
            timer_ = {};
            log(LogLevel::warning,
                "chunk decode failed — cache abandoned, will full-decode at stop");
            return;
        }
        parts.push_back(std::move(*text));
        // The pause the cut fell in may be pre-decoded afresh.
        specArmed_ = true;
    }
    texts_.insert(texts_.end(), std::make_move_iterator(parts.begin()),
                  std::make_move_iterator(parts.end()));
    ++chunkIndex_;
    lastCutByte_ = *point;
    dropSpeculative(); // now part of the chunk
    log(LogLevel::info, "chunk " + std::to_string(chunkIndex_) + " cached · " +
                            wholeSeconds(*point - c) + "s → " + fixedDecimals(seconds, 1) +
                            "s decode" +
                            (from == c ? "" : " (" + wholeSeconds(from - c) + "s pre-decoded)"));
}

void ChunkEngine::specPass() {
    if (!settings_.speculative) return;
    const auto recording = openRecording();
    const std::uint64_t c = lastCutByte_;
    if (!recording || recording->avail <= c) return;
    const std::uint64_t avail = recording->avail;
    const std::uint64_t pending = avail - c;
    if (pending < kBytesPerSecond) return;

    const int fd = recording->fd.get();
    const std::uint64_t recentBytes = std::min(pending, kRecentBytes) & ~std::uint64_t{1};
    const std::uint64_t overallBytes = std::min(pending, kOverallBytes) & ~std::uint64_t{1};
    const double recent = rangeRMS(fd, recording->dataOffset, avail - recentBytes, avail);
    const double overall = rangeRMS(fd, recording->dataOffset, avail - overallBytes, avail);
    // Only what the speculative tail does not cover yet is decoded.
    const bool extending = !specTexts_.empty() && specFrom_ == c;
    const std::uint64_t from = extending ? specTo_ : c;
    std::optional<std::uint64_t> to;
    const double quiet = std::max(overall * 0.25, 120.0);
    const bool pausing = recent < quiet;
    if (pausing) {
        if (!specArmed_) return; // this pause is decoded already
        specArmed_ = false;
        // Up to the quietest moment of the pause, so that a word beginning right now falls
        // wholly after it.
        to = quietestPoint(fd, recording->dataOffset, from, avail, recentBytes).value_or(avail);
    } else {
        specArmed_ = true; // speech goes on; the next pause may be decoded again
        // A long stretch of speech is pre-decoded up to a pause between phrases, one piece at a
        // time, so no long decode is ever left for the stop: the longest pause of its last
        // seconds, past the shortest piece, which ends a sentence more often than a comma does.
        if (!stretchPreDecodes_ || avail < from + evenBytes(schedule_.stretchSeconds)) return;
        const std::uint64_t lookFrom = from + evenBytes(schedule_.minPieceSeconds);
        to = longestPause(fd, recording->dataOffset, lookFrom, avail,
                          std::min(avail - lookFrom, kOverallBytes));
        if (!to) return;
    }
    if (*to <= from) return;
    // The pause that follows a pre-decoded stretch holds nothing to hear: it is covered as it is,
    // and the queue stays free for the stop.
    if (pausing && extending && *to - from <= kOverallBytes &&
        rangeRMS(fd, recording->dataOffset, from, *to) < std::min(quiet, kSilentAfterSpecRms)) {
        specTo_ = *to;
        specSeenTo_ = avail;
        return;
    }

    if (*to - from < kMinPieceBytes) return; // left to the next piece
    {
        std::lock_guard lock(runningMutex_);
        abandonRunning_.store(false);
        running_ = RunningPreDecode{wavPath_,
                                    recording->dataOffset,
                                    from,
                                    *to,
                                    avail,
                                    queue_->now(),
                                    lastPreDecodeSeconds_,
                                    evenBytes(schedule_.endAtStopWithinSeconds)};
    }
    double seconds = 0;
    auto text =
        decode(*recording, from, *to, "spec", DecodeRoute::LocalOnly, seconds, &abandonRunning_);
    {
        std::lock_guard lock(runningMutex_);
        running_.reset();
    }
    if (text) lastPreDecodeSeconds_ = seconds;
    if (!text && abandonRunning_.load()) {
        log(LogLevel::info, "pre-decode of " + wholeSeconds(*to - from) +
                                "s ended at the stop — the stop decode covers it");
        return;
    }
    if (!text) {
        // Not used. A pause stays disarmed until speech resumes; a decoder that fails on a
        // stretch of speech is not asked again every two seconds.
        if (!pausing) stretchPreDecodes_ = false;
        return;
    }
    if (!extending) {
        dropSpeculative();
        specFrom_ = c;
    }
    specStarts_.push_back(from);
    specTexts_.push_back(std::move(*text));
    specTo_ = *to;
    specSeenTo_ = avail;
    log(LogLevel::info, "tail pre-decoded during pause · " + wholeSeconds(*to - from) + "s → " +
                            fixedDecimals(seconds, 1) + "s");
    if (onSpecTranscript_) onSpecTranscript_(prospectiveText());
}

std::string ChunkEngine::prospectiveText() const {
    std::vector<std::string> parts = texts_;
    parts.insert(parts.end(), specTexts_.begin(), specTexts_.end());
    return join(parts, "\n");
}

std::optional<std::string> ChunkEngine::finishText() {
    if (failed_ || (texts_.empty() && specTexts_.empty())) return std::nullopt;
    const auto recording = openRecording();
    if (!recording) return std::nullopt;
    const std::uint64_t c = lastCutByte_;
    const std::uint64_t avail = recording->avail;
    std::vector<std::string> parts = texts_;
    if (avail <= c + kNegligibleTailBytes) return join(parts, "\n");

    std::uint64_t from = c;
    if (!specTexts_.empty() && specFrom_ == c && avail >= specSeenTo_) {
        parts.insert(parts.end(), specTexts_.begin(), specTexts_.end());
        if (avail - specSeenTo_ <= kSpecFreshBytes &&
            rangeRMS(recording->fd.get(), recording->dataOffset, specTo_, avail) <
                kSilentAfterSpecRms) {
            log(LogLevel::fast, "tail was pre-decoded — zero decode wait at stop");
            return join(parts, "\n");
        }
        from = specTo_; // only the words said after it are left
        // Less than a second of them is decoded together with the last pre-decoded piece.
        if (avail - from < kMinPieceBytes) {
            from = specStarts_.back();
            parts.pop_back();
        }
    }

    double seconds = 0;
    auto text = decode(*recording, from, avail, "tail", DecodeRoute::Auto, seconds);
    if (!text) return std::nullopt;
    log(LogLevel::info, "tail decoded · " + wholeSeconds(avail - from) + "s → " +
                            fixedDecimals(seconds, 1) + "s (" + std::to_string(chunkIndex_) +
                            (chunkIndex_ == 1 ? " chunk" : " chunks") + " pre-cached)");
    parts.push_back(std::move(*text));
    return join(parts, "\n");
}

} // namespace vak
