// The pill's geometry, the level bars' motion and the resize maths, without a display.
#include "ui/pill_layout.h"
#include "ui/waveform_model.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

// What holds at every width from the minimum up, rather than where each frame lies: the frames
// stay inside the pill, the rows do not overlap, and the grips line the edges.
TEST(PillLayout, RowsStayApartAndGripsLineTheEdgesAtEveryWidth) {
    for (const double width : {double(pill::kMinWidth), double(pill::kWidth), 1000.0}) {
        SCOPED_TRACE(width);
        const QRectF pill(0, 0, width, pill::kHeight);
        const pill::Layout l = pill::layout(width, pill::kHeight);
        ASSERT_TRUE(l.waveform);
        ASSERT_TRUE(l.hint);
        // Left to right along the top: settings, elapsed time, bars, cancel.
        const QRectF top[] = {l.settings, l.elapsed, *l.waveform, l.cancel};
        for (std::size_t i = 0; i < std::size(top); ++i) {
            EXPECT_TRUE(pill.contains(top[i])) << "top row " << i;
            if (i > 0) {
                EXPECT_LE(top[i - 1].right(), top[i].left()) << "top row " << i;
            }
        }
        // Top to bottom: top row, caption, hint, then mode and Done side by side.
        EXPECT_LE(l.cancel.bottom(), l.caption.top());
        EXPECT_LE(l.caption.bottom(), l.hint->top());
        EXPECT_LE(l.hint->bottom(), l.mode.top());
        EXPECT_LE(l.mode.right(), l.finish.left());
        EXPECT_EQ(l.mode.top(), l.finish.top());
        EXPECT_EQ(l.mode.left(), width - l.finish.right()); // equal side margins
        EXPECT_TRUE(pill.contains(l.mode.united(l.finish)));
        // The grips touch the edges they move, never each other, and the top and bottom rows of
        // grips span the whole width.
        double topSpan = 0;
        for (std::size_t i = 0; i < l.grips.size(); ++i) {
            const QRectF& grip = l.grips[i];
            const int edges = pill::kGripEdges[i];
            SCOPED_TRACE(edges);
            EXPECT_TRUE(pill.contains(grip));
            EXPECT_EQ(grip.left() == 0, (edges & pill::Left) != 0);
            EXPECT_EQ(grip.right() == width, (edges & pill::Right) != 0);
            EXPECT_EQ(grip.top() == 0, (edges & pill::Top) != 0);
            EXPECT_EQ(grip.bottom() == pill::kHeight, (edges & pill::Bottom) != 0);
            if ((edges & pill::Top) != 0) topSpan += grip.width();
            for (std::size_t j = i + 1; j < l.grips.size(); ++j)
                EXPECT_FALSE(grip.intersects(l.grips[j])) << "grip " << pill::kGripEdges[j];
        }
        EXPECT_EQ(topSpan, width);
    }
}

TEST(PillLayout, NarrowHidesTheBarsAndShortHidesTheHint) {
    EXPECT_FALSE(pill::layout(259, 196).waveform);
    ASSERT_TRUE(pill::layout(260, 196).waveform);
    EXPECT_FALSE(pill::layout(640, 169).hint);
    EXPECT_TRUE(pill::layout(640, 170).hint);
    // Nothing gets a negative size in a pill smaller than anything it allows.
    const pill::Layout tiny = pill::layout(10, 10);
    EXPECT_EQ(tiny.caption.height(), 0);
    EXPECT_GE(tiny.mode.width(), 80);
    for (const QRectF& grip : tiny.grips)
        EXPECT_GE(std::min(grip.width(), grip.height()), 0);
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
    for (int i = 0; i < 10; ++i) {
        bars.setLevel(0.8f);
        bars.step(28);
    }
    const int last = WaveformModel::kBars - 1;
    EXPECT_DOUBLE_EQ(bars.barRect(0, 240, 28).left(), 240 - bars.barRect(last, 240, 28).right());
    for (int i = 0; i <= last; ++i)
        EXPECT_DOUBLE_EQ(bars.barRect(i, 240, 28).center().y(), 14) << i;
}

} // namespace
} // namespace vak
