#include "ui/pill_layout.h"

#include "base/unicode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace vak::pill {

QRectF fromBottomLeft(const QRectF& rect, double containerHeight) {
    return {rect.x(), containerHeight - rect.y() - rect.height(), rect.width(), rect.height()};
}

Layout layout(double W, double H) {
    const auto at = [H](double x, double y, double w, double h) {
        return fromBottomLeft(QRectF(x, y, w, h), H);
    };
    Layout out;
    out.settings = at(14, H - 42, 30, 28);
    out.elapsed = at(52, H - 38, 74, 18);
    out.cancel = at(W - 56, H - 42, 38, 28);

    const double available = W - 200;
    if (available >= 60) {
        const double width = std::min(available, 240.0);
        out.waveform = at((available - width) * 0.5 + 132, H - 42, width, 28);
    }

    const double finish = std::min(std::max(W * 0.22, 88.0), 132.0);
    out.mode = at(18, 14, std::max(W - finish - 54, 80.0), 46);
    out.finish = at(W - finish - 18, 14, finish, 46);
    if (H >= kHintMinHeight) out.hint = at(20, 66, std::max(W - 40, 0.0), 14);
    out.caption = at(16, 84, W - 32, std::max(H - 130, 0.0));

    // Edge strips leave the corners to the corner grips.
    const double stripW = std::max(W - 28, 0.0);
    const double stripH = std::max(H - 28, 0.0);
    for (std::size_t i = 0; i < kGripEdges.size(); ++i) {
        const int edges = kGripEdges[i];
        QRectF grip;
        switch (edges) {
        case Left:
            grip = at(0, 14, 8, stripH);
            break;
        case Right:
            grip = at(W - 8, 14, 8, stripH);
            break;
        case Bottom:
            grip = at(14, 0, stripW, 8);
            break;
        case Top:
            grip = at(14, H - 8, stripW, 8);
            break;
        default: {
            const double x = (edges & Left) != 0 ? 0 : W - 14;
            const double y = (edges & Bottom) != 0 ? 0 : H - 14;
            grip = at(x, y, 14, 14);
        }
        }
        out.grips[i] = grip;
    }
    return out;
}

QPoint bottomCentre(const QRect& available, QSize size, int margin) {
    const int x = available.x() + (available.width() - size.width()) / 2;
    const int y = available.y() + available.height() - margin - size.height();
    return {x, y};
}

QRect resizedFrame(const QRect& start, QSize minimum, int edges, QPoint delta) {
    int x = start.x();
    int y = start.y();
    int width = start.width();
    int height = start.height();
    if ((edges & Right) != 0) width = std::max(start.width() + delta.x(), minimum.width());
    if ((edges & Left) != 0) {
        width = std::max(start.width() - delta.x(), minimum.width());
        x = start.x() + start.width() - width;
    }
    if ((edges & Bottom) != 0) height = std::max(start.height() + delta.y(), minimum.height());
    if ((edges & Top) != 0) {
        height = std::max(start.height() - delta.y(), minimum.height());
        y = start.y() + start.height() - height;
    }
    return {x, y, width, height};
}

std::string elapsedText(double seconds) {
    const long whole = seconds > 0 ? static_cast<long>(std::floor(seconds)) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string captionTail(std::string_view text) {
    // Cheap exit: fewer bytes than characters allowed means fewer characters, too.
    if (text.size() <= kCaptionCharacters) return std::string(text);
    std::vector<std::size_t> bounds;
    graphemeBoundaries(text, bounds);
    const std::size_t characters = bounds.empty() ? 0 : bounds.size() - 1;
    if (characters <= kCaptionCharacters) return std::string(text);
    return std::string(text.substr(bounds[characters - kCaptionCharacters]));
}

} // namespace vak::pill
