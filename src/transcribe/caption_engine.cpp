#include "transcribe/caption_engine.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/log.h"
#include "base/regex.h"
#include "base/serial_queue.h"
#include "base/subprocess.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "transcribe/engine_threads.h"
#include "transcribe/model_catalog.h"
#include "transcribe/speech_tools.h"
#include "transcribe/tool_report.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::uint64_t kMaxWindowBytes = 10 * kBytesPerSecond;
constexpr std::uint64_t kCommitLookbackBytes = 6 * kBytesPerSecond;
constexpr std::uint64_t kForcedTailBytes = 2 * kBytesPerSecond;
constexpr std::uint64_t kMinTailBytes = 19200; // 0.6 s: shorter live tails are not decoded

std::string joined(const std::string& first, const std::string& second) {
    if (first.empty()) return second;
    if (second.empty()) return first;
    return first + " " + second;
}

} // namespace

CaptionSettings CaptionSettings::from(const Config& config, const std::string& whisperCli,
                                      const ScratchFiles& scratch) {
    CaptionSettings s;
    s.liveCaptions = config.liveCaptions;
    s.intervalSeconds = config.captionInterval;
    s.windowSeconds = config.captionWindow;
    s.model = config.captionModel;
    s.whisperCli = whisperCli;
    s.scratchBase = scratch.captionBase();
    return s;
}

CaptionSettings CaptionSettings::from(const ProcessValues& values) {
    CaptionSettings s = from(values.cfg, values.WHISPER, values.scratch);
    // A Parakeet decode server, which runs whatever SERVER says, captions with its own model: one
    // model in memory, and passes that cost what their audio costs rather than a whole window.
    if (engineOfModel(values.MODEL) == SpeechEngine::Parakeet) {
        s.serverUrl = localServerUrl();
        s.serverHasOwnModel = true;
    } else if (values.cfg.useServer)
        s.serverUrl = captionServerUrl();
    return s;
}

std::uint64_t captionWindowBytes(double windowSeconds) {
    if (windowSeconds > 10) return kMaxWindowBytes;
    const double seconds = std::max(windowSeconds, 6.0);
    return static_cast<std::uint64_t>(seconds * kBytesPerSecond) & ~std::uint64_t{1};
}

std::string cleanCaptionText(std::string_view raw) {
    std::string text = regexReplace(raw, R"(\[[A-Z_ ]+\])", " ");
    text = regexReplace(text, R"(\([^)]*\))", " ");
    text = regexReplace(text, R"(\s+)", " ");
    return trim(text);
}

std::shared_ptr<CaptionEngine> CaptionEngine::create(CaptionSettings settings,
                                                     std::shared_ptr<TimedQueue> queue) {
    if (!queue) queue = std::make_shared<SerialQueue>("vak.captions");
    return std::shared_ptr<CaptionEngine>(new CaptionEngine(std::move(settings), std::move(queue)));
}

CaptionEngine::CaptionEngine(CaptionSettings settings, std::shared_ptr<TimedQueue> queue)
    : settings_(std::move(settings)), queue_(std::move(queue)) {}

bool CaptionEngine::modelAvailable() const {
    return settings_.serverHasOwnModel || isRegularFile(settings_.model);
}

void CaptionEngine::start(const std::string& wav) {
    if (!settings_.liveCaptions || !modelAvailable()) return;
    const int generation = ++generation_;
    std::weak_ptr<CaptionEngine> weak = weak_from_this();
    queue_->async([weak, generation, wav] {
        const auto self = weak.lock();
        if (!self || self->generation_.load() != generation) return; // stopped meanwhile
        self->reset(wav);
        const double interval = self->settings_.scaled(self->settings_.intervalSeconds);
        self->timer_ = self->queue_->repeating(
            interval,
            [weak, generation] {
                if (const auto engine = weak.lock()) engine->pass(generation);
            },
            interval);
    });
}

void CaptionEngine::stop() {
    // At once, so that a pass decoding right now publishes nothing when it returns, and its
    // decoder stops taking the cores the stop's decode needs.
    ++generation_;
    cancelPass_.store(true);
    std::weak_ptr<CaptionEngine> weak = weak_from_this();
    queue_->async([weak] {
        if (const auto self = weak.lock()) {
            self->timer_.cancel();
            self->timer_ = {};
        }
    });
}

void CaptionEngine::setDisplay(Display display) {
    std::weak_ptr<CaptionEngine> weak = weak_from_this();
    queue_->async([weak, display = std::move(display)]() mutable {
        if (const auto self = weak.lock()) self->display_ = std::move(display);
    });
}

void CaptionEngine::simStart(const std::string& wav) {
    ++generation_;
    queue_->sync([this, &wav] { reset(wav); });
}

void CaptionEngine::simPass() {
    const int generation = generation_.load();
    queue_->sync([this, generation] { pass(generation); });
}

void CaptionEngine::reset(const std::string& wav) {
    timer_.cancel();
    timer_ = {};
    wavPath_ = wav;
    dataOffset_.reset();
    committed_.clear();
    committedByte_ = 0;
    overran_ = false;
    failureLogged_ = false;
}

void CaptionEngine::pass(int generation) {
    if (generation_.load() != generation) return;
    cancelPass_.store(false);
    // A stop between the two lines above must still end this pass's decoder.
    if (generation_.load() != generation) return;
    if (!dataOffset_) dataOffset_ = findWavDataOffset(wavPath_).value_or(kAssumedDataOffset);
    const UniqueFd fd(::open(wavPath_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) return;
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    if (size <= *dataOffset_) return;
    const std::uint64_t avail = (size - *dataOffset_) & ~std::uint64_t{1};
    // After a pass that ran out of time, the next one decodes no more than the window: a longer
    // stretch would overrun again, and the captions would freeze for the rest of the recording.
    if (overran_) {
        overran_ = false;
        const std::uint64_t keep =
            static_cast<std::uint64_t>(settings_.windowSeconds * kBytesPerSecond) &
            ~std::uint64_t{1};
        if (avail > committedByte_ + keep) {
            committed_ = joined(committed_, "…");
            committedByte_ = avail - keep;
        }
    }
    const std::uint64_t c = committedByte_;
    if (c + kBytesPerSecond >= avail) return; // less than a second beyond the committed text

    const std::uint64_t window = captionWindowBytes(settings_.windowSeconds);
    const std::uint64_t tail = avail - c;
    std::optional<std::uint64_t> cut;
    if (tail > window) {
        cut = quietCutPoint(fd.get(), *dataOffset_, c, avail, std::min(tail, kCommitLookbackBytes));
        // Speech without a pause: once the tail is twice the window, commit all but the last
        // two seconds anyway, so decodes stay short.
        if (!cut && tail > 2 * window)
            cut = std::max(avail - kForcedTailBytes, c + kBytesPerSecond);
    }

    std::string live;
    if (!cut) {
        const auto text = decodeRange(fd.get(), c, avail);
        if (!text || generation_.load() != generation) return;
        live = *text;
    } else {
        const auto text = decodeRange(fd.get(), c, *cut);
        if (!text || generation_.load() != generation) return;
        committed_ = joined(committed_, *text);
        committedByte_ = *cut;
        if (avail - *cut > kMinTailBytes) {
            live = decodeRange(fd.get(), *cut, avail).value_or("");
            if (generation_.load() != generation) return;
        }
    }
    const std::string caption = joined(committed_, live);
    if (!caption.empty() && display_) display_(caption);
}

std::optional<std::string> CaptionEngine::decodeRange(int fd, std::uint64_t from,
                                                      std::uint64_t to) {
    const std::string wav = settings_.scratchBase + ".wav";
    const std::string txt = settings_.scratchBase + ".txt";
    copyWavRange(fd, *dataOffset_, from, to, wav);
    removeFile(txt);
    const double limit = settings_.scaled(std::max(4 * settings_.intervalSeconds, 10.0));
    bool answered = false;
    auto text = settings_.serverUrl.empty() ? std::nullopt : viaServer(wav, limit, answered);
    if (!answered) text = viaCli(wav, txt, limit);
    // The clip and its words are the user's; nothing of them stays behind between passes.
    removeFile(wav);
    removeFile(txt);
    if (!text) return std::nullopt;
    return cleanCaptionText(*text);
}

std::optional<std::string> CaptionEngine::viaServer(const std::string& wav, double limitSeconds,
                                                    bool& answered) {
    CurlOptions options;
    options.maxTimeSeconds = limitSeconds;
    options.backstopSeconds = settings_.scaled(2) + 1;
    options.killGraceSeconds = settings_.scaled(2);
    // Stopped: the request is ended (its answer would only be dropped) and its connection closed,
    // which whisper-server looks for to give the pass up.
    options.cancel = &cancelPass_;
    const ServerReply reply = askWhisperServer(
        captionServerArguments(settings_.curl, settings_.serverUrl, wav, limitSeconds), options);
    answered = reply.text || reply.timedOut || reply.cancelled;
    if (reply.cancelled) return std::nullopt;
    if (reply.text) return reply.text;
    if (reply.timedOut) {
        // whisper-cli would be slower still: the next pass is made shorter instead.
        overran_ = true;
        logOnce("caption pass: no answer from the caption server within " +
                std::to_string(static_cast<long long>(limitSeconds)) +
                "s — the next one decodes only the last CAPTION_WINDOW");
    } else if (reply.status.empty()) {
        if (!serverMissLogged_) {
            serverMissLogged_ = true;
            log(LogLevel::info, "caption server not answering at " + settings_.serverUrl +
                                    " — captions through whisper-cli (a model load per pass)");
        }
    } else {
        logOnce("caption server answered HTTP " + reply.status + " (" + reply.message +
                ") — this pass through whisper-cli");
    }
    return std::nullopt;
}

std::optional<std::string> CaptionEngine::viaCli(const std::string& wav, const std::string& txt,
                                                 double limitSeconds) {
    RunOptions options;
    options.captureOutput = false;
    options.timeoutSeconds = limitSeconds;
    options.killGraceSeconds = settings_.scaled(2);
    options.environment = engineEnvironment(engineThreads(true).captions);
    options.errorTailBytes = kToolErrorTailBytes;
    options.cancel = &cancelPass_;
    const auto result = runProcess(
        captionCliArguments(settings_.whisperCli, settings_.model, wav, settings_.scratchBase),
        options);
    if (result && result->cancelled) return std::nullopt; // stopped: no failure
    std::optional<std::string> text;
    if (result && !result->status.signaled() && result->status.success())
        text = readTextFile(txt, nullptr, Links::refuse);
    if (result && result->timedOut) overran_ = true;
    if (!text) {
        const auto seconds = std::to_string(static_cast<long long>(options.timeoutSeconds));
        logOnce(!result ? std::string("caption pass: whisper-cli could not start")
                : result->timedOut
                    ? "caption pass killed after " + seconds +
                          "s — the next one decodes only the last CAPTION_WINDOW"
                    : "caption pass: whisper-cli " +
                          std::string(result->status.signaled() ? "signal " : "exit ") +
                          std::to_string(result->status.code) + ": " +
                          failureCause(result->errorTail));
    }
    return text;
}

void CaptionEngine::logOnce(const std::string& line) {
    // A caption decoder that fails fails every two seconds.
    if (failureLogged_) return;
    failureLogged_ = true;
    log(LogLevel::warning, line);
}

} // namespace vak
