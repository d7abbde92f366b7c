#include "audio/sample_converter.h"
#include "platform/fake/fake_audio_backend.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

namespace vak {
namespace {

double rms(const std::vector<std::int16_t>& samples, std::size_t skip) {
    double sum = 0;
    for (std::size_t i = skip; i < samples.size(); ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(samples.size() - skip));
}

// Signal power at `frequency` (Goertzel), to tell which tone came out.
double powerAt(const std::vector<std::int16_t>& samples, double frequency, std::size_t skip) {
    const double w = 2 * M_PI * frequency / 16000.0;
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = skip; i < samples.size(); ++i) {
        const double s = samples[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
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

TEST(SampleConverter, AnyDeviceFormatBecomes16kMonoAtTheSameFrequencyAndLevel) {
    struct Case {
        SampleFormat format;
        double rate;
        int channels;
    };
    for (const Case c :
         {Case{SampleFormat::Float32, 48000, 2}, Case{SampleFormat::Int16, 44100, 1},
          Case{SampleFormat::Int32, 96000, 1}, Case{SampleFormat::Int16, 16000, 2}}) {
        const auto out = convertTone(c.format, c.rate, c.channels, 1024);
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch");
        // One second in, one second out, the resampler's delay included.
        EXPECT_NEAR(static_cast<double>(out.size()), 16000.0, 2.0);
        const double expected = 0.5 * 32768 / std::sqrt(2.0);
        EXPECT_NEAR(20 * std::log10(rms(out, 800) / expected), 0.0, 0.5);
        EXPECT_GT(powerAt(out, 1000, 800), 1000 * powerAt(out, 1250, 800));
    }
}

TEST(SampleConverter, BuffersJoinWithoutASeam) {
    // The same second in one piece and in 47 small pieces must come out the same: a resampler
    // that forgot its state between buffers would click at every boundary.
    const auto whole = convertTone(SampleFormat::Float32, 48000, 2, 48000);
    const auto pieces = convertTone(SampleFormat::Float32, 48000, 2, 1021);
    const auto n = std::min(whole.size(), pieces.size());
    ASSERT_GT(n, 15000u);
    int worst = 0;
    for (std::size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::abs(whole[i] - pieces[i]));
    EXPECT_LE(worst, 2);
    // And no jump larger than a 1 kHz tone can make between neighbours.
    int steepest = 0;
    for (std::size_t i = 801; i < pieces.size(); ++i) {
        steepest = std::max(steepest, std::abs(pieces[i] - pieces[i - 1]));
    }
    EXPECT_LT(steepest, static_cast<int>(0.5 * 32768 * 2 * M_PI * 1000 / 16000 * 1.1));
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
