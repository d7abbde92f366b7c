// The pill's geometry, the level bars' motion and the resize maths, without a display: the rules
// that hold at every size rather than where each frame lies.
#include "ui/pill_layout.h"
#include "ui/waveform_model.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(PillLayout, RowsStayApartInsideThePillAndGripsLineTheEdges) {
    for (const double width : {double(pill::kMinWidth), double(pill::kWidth), 1000.0}) {
        SCOPED_TRACE(width);
        const QRectF pill(0, 0, width, pill::kHeight);
        const pill::Layout l = pill::layout(width, pill::kHeight);
        ASSERT_TRUE(l.waveform && l.hint);
        // Left to right along the top, then top to bottom, then mode beside Done.
        const QRectF top[] = {l.settings, l.elapsed, *l.waveform, l.cancel};
        for (std::size_t i = 0; i < std::size(top); ++i) {
            EXPECT_TRUE(pill.contains(top[i])) << i;
            if (i > 0) {
                EXPECT_LE(top[i - 1].right(), top[i].left()) << i;
            }
        }
        EXPECT_LE(l.cancel.bottom(), l.caption.top());
        EXPECT_LE(l.caption.bottom(), l.hint->top());
        EXPECT_LE(l.hint->bottom(), l.mode.top());
        EXPECT_LE(l.mode.right(), l.finish.left());
        EXPECT_EQ(l.mode.left(), width - l.finish.right()); // equal side margins
        EXPECT_TRUE(pill.contains(l.mode.united(l.finish)));
        double topSpan = 0;
        for (std::size_t i = 0; i < l.grips.size(); ++i) {
            const QRectF& grip = l.grips[i];
            const int edges = pill::kGripEdges[i];
            SCOPED_TRACE(edges);
            EXPECT_EQ(grip.left() == 0, (edges & pill::Left) != 0);
            EXPECT_EQ(grip.right() == width, (edges & pill::Right) != 0);
            EXPECT_EQ(grip.top() == 0, (edges & pill::Top) != 0);
            EXPECT_EQ(grip.bottom() == pill::kHeight, (edges & pill::Bottom) != 0);
            if ((edges & pill::Top) != 0) topSpan += grip.width();
            for (std::size_t j = i + 1; j < l.grips.size(); ++j)
                EXPECT_FALSE(grip.intersects(l.grips[j])) << pill::kGripEdges[j];
        }
        EXPECT_EQ(topSpan, width);
    }
    // Bars too narrow to read are left out, the hint where the pill is too short, and nothing
    // gets a negative size however small the pill.
    for (double width = 10; width <= pill::kMinWidth; width += 10) {
        const auto bars = pill::layout(width, pill::kHeight).waveform;
        if (bars) {
            EXPECT_GE(bars->width(), 60) << width;
        }
    }
    EXPECT_FALSE(pill::layout(pill::kWidth, pill::kHintMinHeight - 1).hint);
    EXPECT_TRUE(pill::layout(pill::kWidth, pill::kHintMinHeight).hint);
    const pill::Layout tiny = pill::layout(10, 10);
    EXPECT_EQ(tiny.caption.height(), 0);
    for (const QRectF& grip : tiny.grips)
        EXPECT_GE(std::min(grip.width(), grip.height()), 0);
}

TEST(PillLayout, ResizingMovesOnlyTheGrippedSidesAndKeepsTheMinimum) {
    const QRect start(100, 300, 640, 196);
    const QSize minimum(420, 150);
    for (const int edges : pill::kGripEdges) {
        for (const QPoint delta :
             {QPoint(50, 30), QPoint(-30, -20), QPoint(900, 900), QPoint(-900, -900)}) {
            SCOPED_TRACE(std::to_string(edges) + " by " + std::to_string(delta.x()));
            const QRect got = pill::resizedFrame(start, minimum, edges, delta);
            EXPECT_GE(got.width(), minimum.width());
            EXPECT_GE(got.height(), minimum.height());
            // A side not gripped stays; a gripped one follows the pointer until the minimum.
            const auto side = [&](int edge, int was, int now, int moved, int length, int least) {
                if ((edges & edge) == 0) {
                    EXPECT_EQ(now, was);
                } else if (length > least) {
                    EXPECT_EQ(now, was + moved);
                }
            };
            side(pill::Left, start.left(), got.left(), delta.x(), got.width(), minimum.width());
            side(pill::Right, start.right(), got.right(), delta.x(), got.width(), minimum.width());
            side(pill::Top, start.top(), got.top(), delta.y(), got.height(), minimum.height());
            side(pill::Bottom, start.bottom(), got.bottom(), delta.y(), got.height(),
                 minimum.height());
        }
    }
}

TEST(PillText, ElapsedTimeAndTheCaptionsNewestCharacters) {
    EXPECT_EQ(pill::elapsedText(185.9), "3:05");
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

TEST(Waveform, BarsRestInAShortViewShimmerInATallOneAndFollowTheLevel) {
    WaveformModel pillBars(7);
    WaveformModel tallBars(7);
    double tallest = 0;
    for (int frame = 0; frame < 90; ++frame) {
        pillBars.step(28);
        tallBars.step(200);
        for (double h : pillBars.heights())
            EXPECT_EQ(h, WaveformModel::kFloor);
        for (double h : tallBars.heights())
            tallest = std::max(tallest, h);
    }
    EXPECT_GT(tallest, WaveformModel::kFloor);
    const auto& h = tallBars.heights(); // each bar on its own phase
    EXPECT_NE(*std::max_element(h.begin(), h.end()), *std::min_element(h.begin(), h.end()));

    // A peak is held at most at 1, rises at once and falls away slower than the held peak.
    WaveformModel bars(1);
    bars.setLevel(2.5f);
    bars.setLevel(std::nanf(""));
    EXPECT_EQ(bars.held(), 1.0f);
    bars.step(28);
    EXPECT_NEAR(bars.smoothed(), bars.held(), 1e-6);
    for (int i = 0; i < 3; ++i) {
        const double held = bars.held();
        bars.step(28);
        EXPECT_LT(bars.held(), held);
        EXPECT_GT(bars.smoothed(), bars.held());
    }
    // A swelling level lifts the middle bars most; the group and each bar are centred.
    for (int i = 0; i < 10; ++i) {
        bars.setLevel(0.8f);
        bars.step(28);
    }
    const auto& lifted = bars.heights();
    EXPECT_GT(lifted[12] + lifted[13], lifted[0] + lifted[25]);
    const int last = WaveformModel::kBars - 1;
    EXPECT_DOUBLE_EQ(bars.barRect(0, 240, 28).left(), 240 - bars.barRect(last, 240, 28).right());
    for (int i = 0; i <= last; ++i)
        EXPECT_DOUBLE_EQ(bars.barRect(i, 240, 28).center().y(), 14) << i;
    bars.reset();
    EXPECT_EQ(bars.held(), 0.0f);
    for (double height : bars.heights())
        EXPECT_EQ(height, WaveformModel::kFloor);
}

} // namespace
} // namespace vak
