#pragma once

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vak::pill {

// The recording pill's geometry. Positions are worked out from the bottom-left corner (the
// margins are measured from the bottom edge) and handed to Qt from the top-left.

inline constexpr int kWidth = 640;
inline constexpr int kHeight = 196;
inline constexpr int kMinWidth = 420;
inline constexpr int kMinHeight = 150;
inline constexpr int kBottomMargin = 28; // above the bottom of the screen's free area
inline constexpr double kHintMinHeight = 170;
inline constexpr std::size_t kCaptionCharacters = 1200;

// Sides a resize grip moves; corners combine two.
enum Edge : int { Left = 1, Right = 2, Bottom = 4, Top = 8 };
// The grips, in the order they are created: left, right, top, bottom, then the corners
// top-left, top-right, bottom-left, bottom-right.
inline constexpr std::array<int, 8> kGripEdges = {
    Left, Right, Top, Bottom, Top | Left, Top | Right, Bottom | Left, Bottom | Right};

// Where every view of a W × H pill goes, in the pill's top-left coordinates.
struct Layout {
    QRectF settings;
    QRectF elapsed;
    QRectF cancel;
    std::optional<QRectF> waveform; // absent: too narrow to show
    QRectF mode;
    QRectF finish;
    std::optional<QRectF> hint; // absent: too short to show
    QRectF caption;
    std::array<QRectF, 8> grips; // in kGripEdges order
};
Layout layout(double width, double height);

// A rectangle measured from the bottom-left corner of a container `height` tall, measured from
// its top-left instead.
QRectF fromBottomLeft(const QRectF& rect, double containerHeight);

// Where a window of `size` goes to sit centred at the bottom of a screen's free area, `margin`
// above its bottom edge.
QPoint bottomCentre(const QRect& available, QSize size, int margin);

// The new frame of a window being resized by the grip on `edges` after the pointer moved by
// `delta` (Qt coordinates: y grows downwards) since the drag began on `start`. The opposite
// sides stay where they are and the size never goes below `minimum`.
QRect resizedFrame(const QRect& start, QSize minimum, int edges, QPoint delta);

// "m:ss" for whole seconds.
std::string elapsedText(double seconds);

// The newest part of a caption that the pill shows: its last 1,200 characters.
std::string captionTail(std::string_view text);

} // namespace vak::pill
