#include "ui/waveform_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace vak {

WaveformModel::WaveformModel(std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> phase(0.0, 2 * std::numbers::pi);
    std::uniform_real_distribution<double> speed(5.5, 9.5);
    for (int i = 0; i < kBars; ++i) {
        phases_[static_cast<std::size_t>(i)] = phase(random);
        speeds_[static_cast<std::size_t>(i)] = speed(random);
    }
    heights_.fill(kFloor);
}

void WaveformModel::setLevel(float level) {
    // NaN compares false everywhere and would stick; it counts as silence.
    if (!(level > 0)) return;
    held_ = std::max(held_, std::min(level, 1.0f));
}

void WaveformModel::step(double viewHeight) {
    t_ += kFrameSeconds;
    const double h = held_;
    held_ = static_cast<float>(h * 0.55); // the peak decays between level reports
    smoothed_ += (h - smoothed_) * (h > smoothed_ ? 0.55 : 0.16);
    for (int i = 0; i < kBars; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double envelope = std::sin(i / 25.0 * std::numbers::pi);
        const double wobble = std::sin(t_ * speeds_[k] + phases_[k]);
        const double shimmer = std::sin(2 * t_ + phases_[k]);
        const double target = std::max(
            kFloor, viewHeight * ((shimmer * 0.5 + 0.5) * 0.05 +
                                  smoothed_ * ((envelope * 0.7 + 0.3) * (wobble * 0.38 + 0.62))));
        heights_[k] += (target - heights_[k]) * 0.5;
    }
}

void WaveformModel::reset() {
    held_ = 0;
    smoothed_ = 0;
    heights_.fill(kFloor);
}

QRectF WaveformModel::barRect(int i, double viewWidth, double viewHeight) const {
    constexpr double groupWidth = kBars * kBarWidth + (kBars - 1) * kGap; // 178.5
    const double x = (viewWidth - groupWidth) * 0.5 + i * (kBarWidth + kGap);
    const double height = heights_[static_cast<std::size_t>(i)];
    return {x, (viewHeight - height) / 2, kBarWidth, height};
}

} // namespace vak
