// The pill's geometry, the level bars and the resize maths: rules that hold at every size.
#include "ui/pill_layout.h"
#include "ui/waveform_model.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(PillLayout, EveryViewInsideAndApartAndTheGripsOnTheirEdges) {
    for (double width = 10; width <= 1000; width += 10) {
        SCOPED_TRACE(width);
        const pill::Layout l = pill::layout(width, pill::kHeight);
        EXPECT_TRUE(!l.waveform || l.waveform->width() >= 60); // too narrow to read: left out
        if (width < pill::kMinWidth) continue;
        const QRectF pill(0, 0, width, pill::kHeight);
        ASSERT_TRUE(l.waveform && l.hint);
        // Left to right along the top and the bottom; top to bottom down the middle.
        const QRectF row[] = {l.settings, l.elapsed, *l.waveform, l.cancel, l.mode, l.finish};
        const QRectF column[] = {l.cancel, l.caption, *l.hint, l.mode};
        for (std::size_t i = 0; i < std::size(row); ++i) {
            EXPECT_TRUE(pill.contains(row[i])) << i;
            EXPECT_TRUE(i == 0 || i == 4 || row[i - 1].right() <= row[i].left()) << i;
            EXPECT_TRUE(i == 0 || i >= 4 || column[i - 1].bottom() <= column[i].top()) << i;
        }
        for (std::size_t i = 0; i < l.grips.size(); ++i) {
            const int edges = pill::kGripEdges[i];
            const QRectF& grip = l.grips[i];
            EXPECT_EQ(grip.left() == 0, (edges & pill::Left) != 0) << edges;
            EXPECT_EQ(grip.right() == width, (edges & pill::Right) != 0) << edges;
            EXPECT_EQ(grip.top() == 0, (edges & pill::Top) != 0) << edges;
            EXPECT_EQ(grip.bottom() == pill::kHeight, (edges & pill::Bottom) != 0) << edges;
            for (std::size_t j = i + 1; j < l.grips.size(); ++j)
                EXPECT_FALSE(grip.intersects(l.grips[j])) << edges << " " << j;
        }
    }
    EXPECT_FALSE(pill::layout(pill::kWidth, pill::kHintMinHeight - 1).hint);
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
            const auto side = [&](int edge, int was, int now, int moved, bool atMinimum) {
                EXPECT_TRUE((edges & edge) == 0 ? now == was : atMinimum || now == was + moved)
                    << edge << ": " << was << " to " << now;
            };
            const bool narrowest = got.width() == minimum.width();
            side(pill::Left, start.left(), got.left(), delta.x(), narrowest);
            side(pill::Right, start.right(), got.right(), delta.x(), narrowest);
            const bool lowest = got.height() == minimum.height();
            side(pill::Top, start.top(), got.top(), delta.y(), lowest);
            side(pill::Bottom, start.bottom(), got.bottom(), delta.y(), lowest);
        }
    }
}

TEST(PillText, TheCaptionKeepsItsNewestCharactersWhole) {
    std::string accents; // 1,200 characters of three bytes each
    for (int i = 0; i < 1200; ++i)
        accents += "e\u0301";
    const std::string letters(1200, 'a');
    EXPECT_EQ(pill::captionTail(accents.substr(0, 300) + letters), letters);
    EXPECT_EQ(pill::captionTail(accents), accents);
    EXPECT_EQ(pill::captionTail("x" + accents), accents);
}

// Each bar centred in its view, the group too; a level above 1 or not a number counts as 1.
TEST(Waveform, BarsAreCentredAndTheLevelIsHeldAtMostAtOne) {
    WaveformModel bars(7);
    for (int frame = 0; frame < 90; ++frame)
        bars.step(200);
    const int last = WaveformModel::kBars - 1;
    EXPECT_DOUBLE_EQ(bars.barRect(0, 240, 28).left(), 240 - bars.barRect(last, 240, 28).right());
    for (int i = 0; i <= last; ++i)
        EXPECT_DOUBLE_EQ(bars.barRect(i, 240, 28).center().y(), 14) << i;
    bars.setLevel(2.5f);
    bars.setLevel(std::nanf(""));
    EXPECT_EQ(bars.held(), 1.0f);
}

} // namespace
} // namespace vak
