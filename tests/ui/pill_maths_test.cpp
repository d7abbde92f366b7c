// The pill's geometry, the level bars' motion and the resize maths, without a display.
#include "ui/pill_layout.h"
#include "ui/waveform_model.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

// The pill's rectangles as specified from the bottom-left corner, read back that way.
QRectF bl(const QRectF& topLeft, double height) {
    return pill::fromBottomLeft(topLeft, height); // the flip is its own inverse
}

TEST(PillLayout, FramesAtTheMinimumWidthAndAWideOne) {
    struct Row {
        double width;
        QRectF waveform, mode, finish; // bottom-left coordinates
    };
    const Row rows[] = {
        {420, {132, 154, 220, 28}, {18, 14, 273.6, 46}, {309.6, 14, 92.4, 46}},
        {640, {232, 154, 240, 28}, {18, 14, 454, 46}, {490, 14, 132, 46}},
        {1000, {412, 154, 240, 28}, {18, 14, 814, 46}, {850, 14, 132, 46}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.width);
        const pill::Layout l = pill::layout(row.width, 196);
        ASSERT_TRUE(l.waveform);
        const auto near = [](const QRectF& a, const QRectF& b) {
            return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9 &&
                   std::abs(a.width() - b.width()) < 1e-9 &&
                   std::abs(a.height() - b.height()) < 1e-9;
        };
        EXPECT_TRUE(near(bl(*l.waveform, 196), row.waveform)) << bl(*l.waveform, 196).x();
        EXPECT_TRUE(near(bl(l.mode, 196), row.mode)) << bl(l.mode, 196).width();
        EXPECT_TRUE(near(bl(l.finish, 196), row.finish)) << bl(l.finish, 196).width();
        // The top row hangs from the top edge, whatever the width.
        EXPECT_EQ(l.settings, QRectF(14, 14, 30, 28));
        EXPECT_EQ(l.elapsed, QRectF(52, 20, 74, 18));
        EXPECT_EQ(l.cancel, QRectF(row.width - 56, 14, 38, 28));
        EXPECT_EQ(l.caption, QRectF(16, 46, row.width - 32, 66));
        ASSERT_TRUE(l.hint);
        EXPECT_EQ(*l.hint, QRectF(20, 116, row.width - 40, 14));
    }
}

TEST(PillLayout, NarrowHidesTheBarsAndShortHidesTheHint) {
    EXPECT_FALSE(pill::layout(259, 196).waveform);
    ASSERT_TRUE(pill::layout(260, 196).waveform);
    EXPECT_EQ(pill::layout(260, 196).waveform->width(), 60);
    EXPECT_FALSE(pill::layout(640, 169).hint);
    EXPECT_TRUE(pill::layout(640, 170).hint);
    // Nothing gets a negative size in a pill smaller than anything it allows.
    const pill::Layout tiny = pill::layout(10, 10);
    EXPECT_EQ(tiny.caption.height(), 0);
    EXPECT_GE(tiny.mode.width(), 80);
    for (const QRectF& grip : tiny.grips)
        EXPECT_GE(std::min(grip.width(), grip.height()), 0);
}

TEST(PillLayout, GripsLineTheEdgesAndFillTheCorners) {
    const pill::Layout l = pill::layout(640, 196);
    // left, right, top, bottom, top-left, top-right, bottom-left, bottom-right (top-left
    // coordinates).
    const QRectF expected[] = {{0, 14, 8, 168},   {632, 14, 8, 168}, {14, 0, 612, 8},
                               {14, 188, 612, 8}, {0, 0, 14, 14},    {626, 0, 14, 14},
                               {0, 182, 14, 14},  {626, 182, 14, 14}};
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(l.grips[i], expected[i]) << "grip " << pill::kGripEdges[i];
}

TEST(PillLayout, ResizingKeepsTheOppositeSidesAndTheMinimum) {
    const QRect start(100, 300, 640, 196);
    const QSize minimum(420, 150);
    struct Row {
        int edges;
        QPoint delta; // pointer movement, y downwards
        QRect frame;
    };
    const Row rows[] = {
        {pill::Right, {50, 9}, {100, 300, 690, 196}},
        {pill::Right, {-1000, 0}, {100, 300, 420, 196}},
        {pill::Left, {-30, 0}, {70, 300, 670, 196}},
        {pill::Left, {1000, 0}, {320, 300, 420, 196}}, // stops at the minimum, right edge fixed
        {pill::Top, {0, -20}, {100, 280, 640, 216}},
        {pill::Top, {0, 500}, {100, 346, 640, 150}},
        {pill::Bottom, {7, 40}, {100, 300, 640, 236}},
        {pill::Bottom, {0, -500}, {100, 300, 640, 150}},
        {pill::Top | pill::Right, {10, -10}, {100, 290, 650, 206}},
        {pill::Bottom | pill::Left, {-20, 30}, {80, 300, 660, 226}}, // top-right corner fixed
        {pill::Bottom | pill::Left, {900, -900}, {320, 300, 420, 150}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(pill::resizedFrame(start, minimum, row.edges, row.delta), row.frame)
            << "edges " << row.edges << " by " << row.delta.x() << "," << row.delta.y();
    }
}

TEST(PillText, ElapsedTimeAndTheCaptionsNewestCharacters) {
    EXPECT_EQ(pill::elapsedText(0), "0:00");
    EXPECT_EQ(pill::elapsedText(185.9), "3:05");
    EXPECT_EQ(pill::elapsedText(3600), "60:00");
    EXPECT_EQ(pill::elapsedText(-2), "0:00");

    // 1,300 characters, some of two code points: the last 1,200 are kept whole.
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "e\u0301"; // one character, three bytes
    for (int i = 0; i < 1200; ++i)
        text += static_cast<char>('a' + i % 26);
    EXPECT_EQ(pill::captionTail(text), text.substr(300));
    std::string accents;
    for (int i = 0; i < 1200; ++i)
        accents += "e\u0301";
    EXPECT_EQ(pill::captionTail(accents), accents); // 3,600 bytes, 1,200 characters
    EXPECT_EQ(pill::captionTail("x" + accents), accents);
}

TEST(Waveform, RestsOnTheFloorInThePillAndShimmersInATallView) {
    WaveformModel pillBars(7);
    WaveformModel tallBars(7);
    double tallest = 0;
    double lowest = 1e9;
    for (int frame = 0; frame < 90; ++frame) {
        pillBars.step(28);
        tallBars.step(200);
        for (double h : pillBars.heights())
            EXPECT_EQ(h, WaveformModel::kFloor);
        for (double h : tallBars.heights()) {
            EXPECT_LE(h, 200 * 0.05 + 1e-9);
            tallest = std::max(tallest, h);
            lowest = std::min(lowest, h);
        }
    }
    EXPECT_GT(tallest, 6.0);
    EXPECT_LT(lowest, 3.0);
    // Each bar on its own phase: not all the same height at once.
    const auto& h = tallBars.heights();
    EXPECT_NE(*std::max_element(h.begin(), h.end()), *std::min_element(h.begin(), h.end()));
    for (int i = 0; i < WaveformModel::kBars; ++i) {
        const auto k = static_cast<std::size_t>(i);
        EXPECT_GE(tallBars.phases()[k], 0.0);
        EXPECT_LT(tallBars.phases()[k], 2 * 3.14159266);
        EXPECT_GE(tallBars.speeds()[k], 5.5);
        EXPECT_LE(tallBars.speeds()[k], 9.5);
    }
}

TEST(Waveform, APeakDecaysAndTheEnvelopeRisesFastAndFallsSlowly) {
    WaveformModel bars(1);
    bars.setLevel(2.5f);
    EXPECT_EQ(bars.held(), 1.0f);
    bars.setLevel(0.4f); // lower than the one held
    bars.setLevel(std::nanf(""));
    EXPECT_EQ(bars.held(), 1.0f);
    // held before the frame → (held after, smoothed after)
    const double expected[][2] = {
        {0.55, 0.55},                              // attack: 0 + 1 × 0.55
        {0.3025, 0.55},                            // 0.55 is not above 0.55: release, no change
        {0.166375, 0.55 + (0.3025 - 0.55) * 0.16}, // release
        {0.09150625, 0.5104 + (0.166375 - 0.5104) * 0.16},
    };
    for (const auto& [held, smoothed] : expected) {
        bars.step(28);
        EXPECT_NEAR(bars.held(), held, 1e-6);
        EXPECT_NEAR(bars.smoothed(), smoothed, 1e-6);
    }
    // A swelling level lifts the middle bars above the floor, the ends least.
    for (int i = 0; i < 10; ++i) {
        bars.setLevel(0.8f);
        bars.step(28);
    }
    const auto& h = bars.heights();
    EXPECT_GT(h[12] + h[13], h[0] + h[25]);
    EXPECT_GT(*std::max_element(h.begin(), h.end()), 8.0);
    bars.reset();
    EXPECT_EQ(bars.held(), 0.0f);
    EXPECT_EQ(bars.smoothed(), 0.0);
    for (double height : bars.heights())
        EXPECT_EQ(height, WaveformModel::kFloor);
}

TEST(Waveform, BarsAreCentredAsAGroupAndEachVertically) {
    WaveformModel bars(3);
    EXPECT_EQ(bars.barRect(0, 240, 28), QRectF(30.75, 12.75, 3.5, 2.5));
    EXPECT_EQ(bars.barRect(1, 240, 28).x(), 37.75);
    EXPECT_EQ(bars.barRect(25, 240, 28).right(), 240 - 30.75);
}

} // namespace
} // namespace vak
