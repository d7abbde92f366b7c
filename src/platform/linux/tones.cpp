#include "platform/linux/tones.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vak {

namespace {

// One partial of a tone: frequency (Hz, gliding linearly to `endHz` over the tone), weight.
struct Partial {
    double hz;
    double endHz;
    double weight;
};

struct ToneShape {
    double seconds;
    double decaySeconds; // time constant of the exponential fade
    std::vector<Partial> partials;
    double vibratoHz = 0;
    double vibratoDepth = 0; // fraction of the frequency
    double breath = 0;       // weight of a soft noise layer
};

constexpr double kPeak = 0.45 * 32767;
constexpr double kAttackSeconds = 0.004;
constexpr double kReleaseSeconds = 0.012;

std::vector<std::int16_t> render(const ToneShape& shape) {
    const auto count = static_cast<std::size_t>(shape.seconds * TONE_SAMPLE_RATE);
    std::vector<double> phases(shape.partials.size(), 0.0);
    double weights = shape.breath;
    for (const Partial& p : shape.partials)
        weights += p.weight;
    std::vector<std::int16_t> samples(count);
    std::uint32_t noise = 0x2545F491; // fixed seed: the same sound every time
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / TONE_SAMPLE_RATE;
        const double progress = t / shape.seconds;
        const double vibrato =
            1.0 + shape.vibratoDepth * std::sin(2 * std::numbers::pi * shape.vibratoHz * t);
        double value = 0;
        for (std::size_t k = 0; k < shape.partials.size(); ++k) {
            const Partial& p = shape.partials[k];
            const double hz = (p.hz + (p.endHz - p.hz) * progress) * vibrato;
            phases[k] += 2 * std::numbers::pi * hz / TONE_SAMPLE_RATE;
            value += p.weight * std::sin(phases[k]);
        }
        if (shape.breath > 0) {
            noise = noise * 1664525u + 1013904223u;
            value += shape.breath * (static_cast<double>(noise >> 8) / (1u << 24) * 2 - 1);
        }
        const double remaining = shape.seconds - t;
        const double envelope = std::exp(-t / shape.decaySeconds) *
                                std::min(1.0, t / kAttackSeconds) *
                                std::min(1.0, remaining / kReleaseSeconds);
        samples[i] = static_cast<std::int16_t>(
            std::lround(std::clamp(value / weights * envelope, -1.0, 1.0) * kPeak));
    }
    return samples;
}

} // namespace

std::vector<std::int16_t> toneSamples(Sound sound) {
    switch (sound) {
    case Sound::Start:
        return render({0.12, 0.03, {{2200, 2200, 1.0}, {4400, 4400, 0.3}}});
    case Sound::Stop:
        return render({0.08, 0.025, {{520, 260, 1.0}, {1040, 520, 0.2}}});
    case Sound::Pasted:
        return render({0.45, 0.15, {{1568, 1568, 1.0}, {2093, 2093, 0.7}, {3136, 3136, 0.2}}});
    case Sound::Failure:
        return render({0.4, 0.2, {{110, 110, 1.0}, {330, 330, 0.33}, {550, 550, 0.2}}});
    case Sound::AutoStop:
        return render({0.6, 0.25, {{700, 640, 1.0}, {1400, 1280, 0.15}}, 6.0, 0.01});
    case Sound::Cancel:
        return render({0.25, 0.09, {{330, 330, 1.0}, {660, 660, 0.25}}, 0, 0, 0.15});
    }
    return {};
}

} // namespace vak
