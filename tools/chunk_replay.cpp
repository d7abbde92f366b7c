#include "chunk_replay.h"

#include "audio/wav.h"
#include "base/files.h"
#include "tone_words.h"
#include "transcribe/chunk_engine.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace replay {

double DecoderCost::of(double clipSeconds, std::size_t words) const {
    const double windows =
        windowSeconds > 0 ? std::max(1.0, std::ceil(clipSeconds / windowSeconds - 1e-9)) : 1.0;
    return loadSeconds + encoderSeconds * windows + perAudioSecond * clipSeconds +
           perWordSeconds * static_cast<double>(words);
}

DecoderCost DecoderCost::followingClip(double perCallSeconds, double perAudioSecond) {
    return {0, perCallSeconds, 0, perAudioSecond, 0};
}

DecoderCost DecoderCost::whisper(double encoderSeconds, bool viaCli) {
    return {viaCli ? encoderSeconds * 0.5 : 0.0, encoderSeconds, encoderSeconds / 50, 0, 30};
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

vak::ChunkSimResult run(std::span<const std::int16_t> samples, const Options& options) {
    const vak::ScratchFiles scratch(options.scratchDir);
    GrowingRecording recording(scratch.path("vak_rec_replay.wav"), samples);
    if (!recording.valid()) return {};

    vak::Config config;
    config.chunkSeconds = options.chunkSeconds;
    config.speculative = options.speculative;
    // Only the modelled decode time moves the clock: the replay's own work is not the engine's.
    auto settings = vak::ChunkSettings::from(config, scratch);
    settings.cost = options.shape;
    const auto queue = std::make_shared<vak::VirtualQueue>(false);
    const auto decoder = [queue, cost = options.cost](
                             const vak::DecodeRequest& request) -> std::optional<std::string> {
        const auto clip = tone::readWavSamples(request.wav);
        if (!clip) return std::nullopt;
        std::string text = tone::transcriptOf(*clip);
        const double clipSeconds = static_cast<double>(clip->size()) / tone::kSampleRate;
        queue->elapse(cost.of(clipSeconds, tone::wordsOf(text).size()));
        return text;
    };
    return vak::simulateChunks(
        settings, recording.path(), static_cast<double>(samples.size()) / tone::kSampleRate,
        [&recording](double seconds) { recording.growTo(seconds); }, decoder, queue, options.stop);
}

} // namespace replay
