#include "chunk_replay.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/time_util.h"
#include "tone_words.h"
#include "transcribe/chunk_engine.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <memory>
#include <mutex>

namespace replay {

namespace {

constexpr double kSpecPeriod = 2;

// What the modelled decoder did during one engine call.
struct DecoderLog {
    std::mutex mutex;
    double now = 0;       // virtual time the current engine call started
    double busy = 0;      // modelled seconds spent in the current call
    double realSpent = 0; // real seconds spent hearing in the current call
    std::vector<Decode> decodes;
};

std::string kindOf(const std::string& base) {
    const auto underscore = base.rfind('_');
    const std::string suffix = underscore == std::string::npos ? base : base.substr(underscore + 1);
    return suffix == "spec" || suffix == "tail" ? suffix : "chunk";
}

} // namespace

double DecoderCost::of(double clipSeconds, std::size_t words) const {
    const double windows = std::max(1.0, std::ceil(clipSeconds / 30.0 - 1e-9));
    return loadSeconds + encoderSeconds * windows + perWordSeconds * static_cast<double>(words);
}

DecoderCost DecoderCost::whisper(double encoderSeconds, bool viaCli) {
    return {viaCli ? encoderSeconds * 0.5 : 0.0, encoderSeconds, encoderSeconds / 50};
}

GrowingRecording::GrowingRecording(std::string path, std::span<const std::int16_t> samples)
    : path_(std::move(path)), samples_(samples) {
    if (auto fd = vak::createScratchFile(path_)) {
        if (vak::writeAll(fd->get(), vak::wavHeader(0))) fd_ = std::move(*fd);
    }
}

GrowingRecording::~GrowingRecording() {
    vak::removeFile(path_);
}

void GrowingRecording::growTo(double seconds) {
    const auto target = std::min(
        samples_.size(), static_cast<std::size_t>(std::max(seconds, 0.0) * tone::kSampleRate));
    if (target <= written_) return;
    std::string bytes;
    bytes.reserve((target - written_) * 2);
    for (std::size_t i = written_; i < target; ++i) {
        const auto u = static_cast<std::uint16_t>(samples_[i]);
        bytes += static_cast<char>(u & 0xff);
        bytes += static_cast<char>(u >> 8);
    }
    if (vak::writeAll(fd_.get(), bytes)) written_ = target;
}

Result run(std::span<const std::int16_t> samples, const Options& options) {
    Result result;
    const vak::ScratchFiles scratch(options.scratchDir);
    GrowingRecording recording(scratch.path("vak_rec_replay.wav"), samples);
    if (!recording.valid()) return result;

    auto decoder = std::make_shared<DecoderLog>();
    vak::Config config;
    config.chunkSeconds = options.chunkSeconds;
    config.speculative = options.speculative;
    const auto settings = vak::ChunkSettings::from(config, scratch);
    auto engine = vak::ChunkEngine::create(settings);
    engine->setTranscribe([decoder, cost = options.cost](
                              const vak::DecodeRequest& request) -> std::optional<std::string> {
        const auto start = vak::SteadyClock::now();
        const auto clip = tone::readWavSamples(request.wav);
        if (!clip) return std::nullopt;
        const std::string text = tone::transcriptOf(*clip);
        const double clipSeconds = static_cast<double>(clip->size()) / tone::kSampleRate;
        const double seconds = cost.of(clipSeconds, tone::wordsOf(text).size());
        std::lock_guard lock(decoder->mutex);
        decoder->decodes.push_back({kindOf(request.textBase), request.route, clipSeconds,
                                    decoder->now + decoder->busy, seconds});
        decoder->busy += seconds;
        decoder->realSpent += vak::secondsSince(start);
        return text;
    });
    engine->simStart(recording.path(), 1);

    const double audioSeconds = static_cast<double>(samples.size()) / tone::kSampleRate;
    double stopAt = std::min(options.stopAt, audioSeconds);
    double chunkNext = options.chunkSeconds;
    double specNext = kSpecPeriod;
    double freeAt = 0;
    const auto beginCall = [&](double at) {
        std::lock_guard lock(decoder->mutex);
        decoder->now = at;
        decoder->busy = 0;
        decoder->realSpent = 0;
    };
    const auto callBusy = [&] {
        std::lock_guard lock(decoder->mutex);
        return decoder->busy;
    };

    for (;;) {
        const bool chunkFirst = chunkNext <= specNext;
        double& deadline = chunkFirst ? chunkNext : specNext;
        const double period = chunkFirst ? options.chunkSeconds : kSpecPeriod;
        const double runAt = std::max(deadline, freeAt);
        // A finish queued meanwhile runs before any timer that is due with it.
        if (deadline >= stopAt || runAt >= stopAt) break;
        // The timer re-arms from its deadline, skipping the ticks missed while the queue was
        // busy, as the serial queue does.
        double next = deadline + period;
        while (next <= runAt)
            next += period;
        deadline = next;

        recording.growTo(runAt);
        beginCall(runAt);
        const std::size_t before = decoder->decodes.size();
        if (chunkFirst) {
            engine->simFire();
        } else {
            engine->simSpec();
        }
        freeAt = runAt + callBusy();
        if (!chunkFirst && options.stopAfterSpeculativeFrom &&
            runAt >= *options.stopAfterSpeculativeFrom && decoder->decodes.size() > before) {
            stopAt = std::min(stopAt, freeAt + options.stopDelay);
        }
    }

    recording.growTo(stopAt);
    const double finishAt = std::max(stopAt, freeAt);
    beginCall(finishAt);
    std::promise<std::optional<std::string>> done;
    auto text = done.get_future();
    const auto start = vak::SteadyClock::now();
    engine->finish([&done](std::optional<std::string> value) { done.set_value(value); });
    result.text = text.get();
    const double real = vak::secondsSince(start);

    std::lock_guard lock(decoder->mutex);
    result.stopAt = stopAt;
    result.queueWait = finishAt - stopAt;
    result.finishDecode = decoder->busy;
    result.finishReal = std::max(real - decoder->realSpent, 0.0);
    result.decodes = decoder->decodes;
    return result;
}

} // namespace replay
