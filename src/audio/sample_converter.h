#pragma once

#include "platform/audio_backend.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace vak {

// Converts device buffers (16- or 32-bit integer or 32-bit float, any rate, interleaved) into
// the recording format: 16 kHz mono signed 16-bit. Stereo is mixed down; with more than two
// channels only the first is kept. The resampler keeps its state from one buffer to the next,
// so consecutive buffers join without a seam; build a new converter when the rate or channel
// count changes.
class SampleConverter {
  public:
    static constexpr double kTargetRate = 16000;

    SampleConverter(double inputRate, int channels);
    ~SampleConverter();
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;

    bool valid() const { return valid_; }
    double inputRate() const { return inputRate_; }
    int channels() const { return channels_; }

    // The 16 kHz samples for `buffer`; empty when it holds no frames or does not match the
    // rate and channel count the converter was built for.
    std::vector<std::int16_t> convert(const AudioBuffer& buffer);
    // The samples the resampler still holds back (its filter delay, a few tens of milliseconds),
    // for the end of a recording. The converter is spent afterwards.
    std::vector<std::int16_t> flush();

  private:
    struct Resampler;
    double inputRate_;
    int channels_;
    bool valid_ = false;
    std::unique_ptr<Resampler> resampler_; // absent when the input is already 16 kHz
    std::vector<float> mono_;
    std::vector<float> resampled_;
};

// Largest absolute sample, with -32768 counted as 32767; 0 for no samples.
std::int16_t peakOf(const std::vector<std::int16_t>& samples);
// Meter level for a peak: -50 dBFS and below is 0, -15 dBFS and above is 1.
float levelForPeak(std::int16_t peak);

} // namespace vak
