#include "audio/sample_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <soxr.h>

namespace vak {

struct SampleConverter::Resampler {
    soxr_t soxr = nullptr;
    ~Resampler() {
        if (soxr != nullptr) soxr_delete(soxr);
    }
};

SampleConverter::SampleConverter(double inputRate, int channels)
    : inputRate_(inputRate), channels_(channels) {
    if (!(inputRate > 0) || channels < 1) return;
    if (inputRate != kTargetRate) {
        resampler_ = std::make_unique<Resampler>();
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        resampler_->soxr = soxr_create(inputRate, kTargetRate, 1, &error, &io, &quality, nullptr);
        if (error != nullptr || resampler_->soxr == nullptr) return;
    }
    valid_ = true;
}

SampleConverter::~SampleConverter() = default;

namespace {

template <typename T>
T readSample(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value); // device buffers need not be aligned
    return value;
}

float sampleAt(const AudioBuffer& buffer, std::size_t index) {
    const std::uint8_t* at = buffer.bytes.data() + index * buffer.bytesPerSample();
    switch (buffer.format) {
    case SampleFormat::Int16:
        return static_cast<float>(readSample<std::int16_t>(at)) / 32768.0f;
    case SampleFormat::Int32:
        return static_cast<float>(static_cast<double>(readSample<std::int32_t>(at)) / 2147483648.0);
    case SampleFormat::Float32:
        break;
    }
    const float value = readSample<float>(at);
    return std::isfinite(value) ? value : 0.0f;
}

std::int16_t toInt16(float value) {
    const float scaled = std::nearbyint(value * 32768.0f);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace

std::vector<std::int16_t> SampleConverter::convert(const AudioBuffer& buffer) {
    const std::size_t frames = buffer.frames();
    if (!valid_ || frames == 0 || buffer.sampleRate != inputRate_ || buffer.channels != channels_) {
        return {};
    }
    mono_.resize(frames);
    const auto channels = static_cast<std::size_t>(channels_);
    for (std::size_t f = 0; f < frames; ++f) {
        if (channels == 2) {
            mono_[f] = 0.5f * (sampleAt(buffer, 2 * f) + sampleAt(buffer, 2 * f + 1));
        } else {
            mono_[f] = sampleAt(buffer, f * channels); // mono, or channel 0 of many
        }
    }

    const float* source = mono_.data();
    std::size_t produced = frames;
    if (resampler_) {
        const auto capacity = static_cast<std::size_t>(std::floor(kTargetRate / inputRate_ *
                                                                  static_cast<double>(frames))) +
                              1024;
        resampled_.resize(capacity);
        produced = 0;
        // The resampler may take the input in several bites; everything given must go in.
        std::size_t offered = 0;
        while (offered < frames) {
            if (resampled_.size() - produced < 256) resampled_.resize(resampled_.size() * 2);
            std::size_t consumed = 0;
            std::size_t made = 0;
            const soxr_error_t error =
                soxr_process(resampler_->soxr, mono_.data() + offered, frames - offered, &consumed,
                             resampled_.data() + produced, resampled_.size() - produced, &made);
            if (error != nullptr) return {};
            if (consumed == 0 && made == 0) break;
            offered += consumed;
            produced += made;
        }
        source = resampled_.data();
    }
    std::vector<std::int16_t> out(produced);
    for (std::size_t i = 0; i < produced; ++i)
        out[i] = toInt16(source[i]);
    return out;
}

std::vector<std::int16_t> SampleConverter::flush() {
    if (!valid_ || !resampler_) return {};
    std::vector<std::int16_t> out;
    resampled_.resize(4096);
    for (;;) {
        std::size_t produced = 0;
        const soxr_error_t error = soxr_process(resampler_->soxr, nullptr, 0, nullptr,
                                                resampled_.data(), resampled_.size(), &produced);
        if (error != nullptr || produced == 0) break;
        for (std::size_t i = 0; i < produced; ++i)
            out.push_back(toInt16(resampled_[i]));
    }
    valid_ = false;
    return out;
}

std::int16_t peakOf(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (std::int16_t s : samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return static_cast<std::int16_t>(std::min(peak, 32767));
}

float levelForPeak(std::int16_t peak) {
    const double db = 20.0 * std::log10(std::max(1.0, static_cast<double>(peak)) / 32767.0);
    return static_cast<float>(std::clamp((db + 50.0) / 35.0, 0.0, 1.0));
}

} // namespace vak
