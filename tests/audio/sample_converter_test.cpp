#include "audio/sample_converter.h"
#include "platform/fake/fake_audio_backend.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

namespace vak {
namespace {

// After the resampler's first 800 samples.
double rms(const std::vector<std::int16_t>& samples) {
    double sum = 0;
    for (std::size_t i = 800; i < samples.size(); ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(samples.size() - 800));
}

// One second of a 1 kHz tone at half scale, fed in buffers of `frames`.
std::vector<std::int16_t> convertTone(SampleFormat format, double rate, int channels,
                                      std::size_t frames) {
    SampleConverter converter(rate, channels);
    EXPECT_TRUE(converter.valid());
    std::vector<std::int16_t> out;
    const auto total = static_cast<std::size_t>(rate);
    for (std::size_t start = 0; start < total; start += frames) {
        const auto n = std::min(frames, total - start);
        auto piece = converter.convert(sineBuffer(format, rate, channels, n, 1000, 0.5, start));
        out.insert(out.end(), piece.begin(), piece.end());
    }
    const auto tail = converter.flush();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// Every case is also fed in odd-sized pieces: a resampler that forgot its state between buffers
// would click at every boundary.
TEST(SampleConverter, AnyDeviceFormatBecomes16kMonoAtTheSameFrequencyLevelAndWithoutSeams) {
    for (const auto& [format, rate, channels] : {std::tuple{SampleFormat::Float32, 48000.0, 2},
                                                 {SampleFormat::Int16, 44100.0, 1},
                                                 {SampleFormat::Int32, 96000.0, 1},
                                                 {SampleFormat::Int16, 16000.0, 2}}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " ch");
        const auto out = convertTone(format, rate, channels, 1024);
        // One second in, one second out (at the same pitch), the resampler's delay included.
        EXPECT_NEAR(static_cast<double>(out.size()), 16000.0, 2.0);
        EXPECT_NEAR(20 * std::log10(rms(out) / (0.5 * 32768 / std::sqrt(2.0))), 0.0, 0.5);
        const auto pieces = convertTone(format, rate, channels, 1021);
        ASSERT_GT(std::min(out.size(), pieces.size()), 15000u);
        for (std::size_t i = 0; i < std::min(out.size(), pieces.size()); ++i)
            ASSERT_LE(std::abs(out[i] - pieces[i]), 2) << i;
    }
}

TEST(SampleConverter, ClipsInsteadOfWrappingAndRefusesMismatchedBuffers) {
    SampleConverter converter(16000, 1);
    AudioBuffer loud = silentBuffer(SampleFormat::Float32, 16000, 1, 4);
    const float values[4] = {1.5f, -1.5f, 1.0f, -1.0f};
    std::memcpy(loud.bytes.data(), values, sizeof values);
    EXPECT_EQ(converter.convert(loud), (std::vector<std::int16_t>{32767, -32768, 32767, -32768}));
    EXPECT_TRUE(converter.convert(silentBuffer(SampleFormat::Int16, 48000, 1, 64)).empty());
    EXPECT_TRUE(converter.convert(silentBuffer(SampleFormat::Int16, 16000, 2, 64)).empty());
    EXPECT_FALSE(SampleConverter(0, 1).valid());
}

} // namespace
} // namespace vak
