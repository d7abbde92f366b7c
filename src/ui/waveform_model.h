#pragma once

#include <QRectF>
#include <array>
#include <cstdint>

namespace vak {

// The motion of the pill's level bars: a gentle idle shimmer that swells with the microphone
// level, each bar with its own phase and speed, the middle bars swinging most. One step is one
// frame of a 30-frames-per-second animation.
class WaveformModel {
  public:
    static constexpr int kBars = 26;
    static constexpr double kBarWidth = 3.5;
    static constexpr double kGap = 3.5;
    static constexpr double kFloor = 2.5; // resting bar height
    static constexpr double kFrameSeconds = 1.0 / 30;

    // Phases and speeds are drawn from `seed`.
    explicit WaveformModel(std::uint32_t seed);

    // Offers a level (0…1, more counts as 1): the bars follow the peak offered since the last
    // frame.
    void setLevel(float level);
    // Advances one frame for a view `viewHeight` tall.
    void step(double viewHeight);
    // Back to rest: no level, every bar on the floor.
    void reset();

    float held() const { return held_; }
    double smoothed() const { return smoothed_; }
    double time() const { return t_; }
    const std::array<double, kBars>& heights() const { return heights_; }
    const std::array<double, kBars>& phases() const { return phases_; }
    const std::array<double, kBars>& speeds() const { return speeds_; }

    // Bar `i` in a view of the given size (top-left coordinates): the bars are centred as a
    // group, each centred vertically.
    QRectF barRect(int i, double viewWidth, double viewHeight) const;

  private:
    std::array<double, kBars> heights_{};
    std::array<double, kBars> phases_{};
    std::array<double, kBars> speeds_{};
    float held_ = 0;
    double smoothed_ = 0;
    double t_ = 0;
};

} // namespace vak
