#include "transcribe/decode_router.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/global_queues.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/time_util.h"
#include "transcribe/cloud_client.h"
#include "transcribe/local_decode.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace vak {

namespace {

// Counts race engine tasks from launch to the moment they are done with everything they hold.
struct EngineTracker {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;

    void started() {
        std::lock_guard lock(mutex);
        ++running;
    }
    void finished() {
        std::lock_guard lock(mutex);
        if (--running == 0) idle.notify_all();
    }
};

EngineTracker& engineTracker() {
    // Never destroyed: loser tasks may finish while the process exits.
    static auto* tracker = new EngineTracker();
    return *tracker;
}

// Shared by the two engine tasks and the waiting caller; outlives whichever finishes last.
struct RaceState {
    std::mutex lock;
    std::condition_variable signalled;
    int signals = 0; // finished engines not yet waited for
    std::optional<std::string> text;
    std::string winner;
    std::optional<double> cloudSeconds;
    std::optional<double> localSeconds;
};

void launchEngine(const std::shared_ptr<RaceState>& state, const char* name, EngineCall engine,
                  SteadyClock::time_point start) {
    engineTracker().started();
    globalQueue(QoS::UserInitiated).async([state, name, engine = std::move(engine), start] {
        std::optional<std::string> result;
        try {
            result = engine();
        } catch (...) {
            // An engine that throws counts as one that failed.
        }
        const double seconds = secondsSince(start);
        {
            std::lock_guard guard(state->lock);
            (std::string_view(name) == "cloud" ? state->cloudSeconds : state->localSeconds) =
                seconds;
            if (!state->text && result && !result->empty()) {
                state->text = std::move(result);
                state->winner = name;
            }
            ++state->signals;
        }
        state->signalled.notify_all();
        engineTracker().finished();
    });
}

std::string raceTime(const std::optional<double>& seconds) {
    if (!seconds) return "dnf";
    return fixedDecimals(*seconds, 1) + "s";
}

// Deletes the conditioned copy however runWhisper returns.
class RemoveOnExit {
  public:
    explicit RemoveOnExit(std::optional<std::string> path) : path_(std::move(path)) {}
    ~RemoveOnExit() {
        if (path_) removeFile(*path_);
    }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

  private:
    std::optional<std::string> path_;
};

// `text`, with its engine noted on the request's trail when there is text.
std::optional<std::string> noted(const DecodeRequest& request, std::optional<std::string> text,
                                 bool cloud) {
    if (text && request.trail) (cloud ? request.trail->cloud : request.trail->local).store(true);
    return text;
}

std::optional<std::string> cloudThenLocal(const DecodeRequest& request, const std::string& file,
                                          const DecodeLimits& limits, double duration,
                                          const DecodeSettings& settings) {
    if (auto text = runWhisperViaCloud(file, limits.cloudSeconds, settings)) {
        log(LogLevel::cloud, "cloud engine decode");
        return noted(request, std::move(text), true);
    }
    log(LogLevel::warning, "cloud engine not answering — using local decode");
    return noted(
        request,
        runWhisperLocalPath(file, request.textBase, limits.localSeconds, duration, settings),
        false);
}

} // namespace

DecodeLimits decodeLimits(double durationSeconds) {
    return {durationSeconds * 1.5 + 15, std::max(durationSeconds * 2 + 60, 60.0)};
}

RaceOutcome raceEngines(EngineCall cloud, EngineCall local, double waitSeconds) {
    auto state = std::make_shared<RaceState>();
    const auto start = SteadyClock::now();
    launchEngine(state, "cloud", std::move(cloud), start);
    launchEngine(state, "local", std::move(local), start);

    RaceOutcome outcome;
    std::unique_lock lock(state->lock);
    for (int wait = 0; wait < 2; ++wait) {
        // Each wait consumes one finished engine, so the second waits for the other one.
        if (state->signalled.wait_until(lock, deadlineAfter(waitSeconds),
                                        [&] { return state->signals > 0; })) {
            --state->signals;
        }
        if (state->text) break;
    }
    outcome.text = state->text;
    outcome.winner = state->winner;
    outcome.cloudSeconds = state->cloudSeconds;
    outcome.localSeconds = state->localSeconds;
    return outcome;
}

std::string raceLogLine(const RaceOutcome& outcome) {
    return "decode race: " + outcome.winner + " won (cloud " + raceTime(outcome.cloudSeconds) +
           " · local " + raceTime(outcome.localSeconds) + ")";
}

int decodeEnginesRunning() {
    auto& tracker = engineTracker();
    std::lock_guard lock(tracker.mutex);
    return tracker.running;
}

bool waitForDecodeEngines(double maxSeconds) {
    auto& tracker = engineTracker();
    std::unique_lock lock(tracker.mutex);
    return tracker.idle.wait_until(lock, deadlineAfter(maxSeconds),
                                   [&] { return tracker.running == 0; });
}

Decoder decoderWith(std::shared_ptr<const DecodeModelChoice> choice,
                    std::function<DecodeSettings()> settings) {
    return
        [choice = std::move(choice), settings = std::move(settings)](const DecodeRequest& request) {
            DecodeSettings now = settings();
            now.model = choice->path();
            return runWhisper(request, now);
        };
}

std::optional<std::string> runWhisper(const DecodeRequest& request,
                                      const DecodeSettings& settings) {
    const std::string& wav = request.wav;
    const std::string& txtBase = request.textBase;
    removeFile(txtBase + ".txt");
    const double duration =
        static_cast<double>(std::max<std::int64_t>(fileSize(wav).value_or(0), 0)) / kBytesPerSecond;

    const auto conditioned = preprocessAudio(wav, duration, settings);
    const RemoveOnExit removeConditioned(conditioned);
    const std::string file = conditioned.value_or(wav);
    if (conditioned) {
        log(LogLevel::audio, settings.config.callMode
                                 ? "conditioned audio (call chain) before decode"
                                 : "conditioned audio (normal chain) before decode");
    }

    const DecodeLimits base = decodeLimits(duration);
    const DecodeLimits limits{settings.scaled(base.cloudSeconds),
                              settings.scaled(base.localSeconds)};
    const bool cloud = settings.config.cloud;
    const DecodeRoute route = request.route;

    if (settings.localAvailable()) {
        // A cloud engine that could not be reached a moment ago is left out while the local one
        // can do the work.
        const bool askCloud = cloudWorthAsking(settings);
        if (askCloud && route == DecodeRoute::Auto) {
            const RaceOutcome outcome = raceEngines(
                [file, limits, settings] {
                    return runWhisperViaCloud(file, limits.cloudSeconds, settings);
                },
                [file, txtBase, limits, duration, settings] {
                    return runWhisperLocalPath(file, txtBase, limits.localSeconds, duration,
                                               settings);
                },
                limits.localSeconds + settings.scaled(5));
            if (outcome.text) log(LogLevel::fast, raceLogLine(outcome));
            return noted(request, outcome.text, outcome.winner == "cloud");
        }
        if (askCloud && route == DecodeRoute::CloudPreferred)
            return cloudThenLocal(request, file, limits, duration, settings);
        return noted(request,
                     runWhisperLocalPath(file, txtBase, limits.localSeconds, duration, settings,
                                         request.cancel),
                     false);
    }

    if (cloud) {
        if (auto text = runWhisperViaCloud(file, limits.cloudSeconds, settings)) {
            log(LogLevel::cloud, "cloud engine decode");
            return noted(request, std::move(text), true);
        }
        log(LogLevel::serious, "engine did not answer within " + wholeNumber(limits.cloudSeconds) +
                                   "s and there is no local model to fall back to");
        return std::nullopt;
    }
    log(LogLevel::serious,
        "no transcription engine available: the cloud engine is off and local decoding needs " +
            std::string(settings.engine() == SpeechEngine::Parakeet ? "vak-parakeet-server"
                                                                    : "whisper-cli") +
            " and the model " + settings.model);
    return std::nullopt;
}

} // namespace vak
