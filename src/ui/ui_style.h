#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QRectF>
#include <QString>
#include <string>
#include <string_view>

class QLabel;
class QScrollArea;
class QWidget;

namespace vak::ui {

// Sizes are in device-independent pixels throughout, fonts included, so text keeps its place in
// the fixed layouts whatever the screen's font scaling says.

// The spacing of the windows laid out by Qt layouts (the settings window), so they grow with
// their texts and the controls' fonts and keep one rhythm.
namespace spacing {
inline constexpr int margin = 24;  // the window's edge to its content
inline constexpr int group = 20;   // one group of controls to the next group's title
inline constexpr int title = 4;    // a group's title to its controls
inline constexpr int related = 8;  // controls of one group, stacked or side by side
inline constexpr int columns = 20; // the two columns of a row
} // namespace spacing

QFont font(double pixels, QFont::Weight weight = QFont::Normal);
QFont monospaceFont(double pixels, QFont::Weight weight = QFont::Normal);

// A grey of brightness `white` (0…1) with `alpha`.
QColor grey(double white, double alpha = 1.0);

QString qstr(std::string_view text);
std::string str(const QString& text);

QRect whole(const QRectF& rect);

// A plain-text label (the user's words are never read as markup) at `frame`; left to a layout
// when `frame` is empty.
QLabel* label(QWidget* parent, const QString& text, const QFont& font, const QColor& colour,
              const QRect& frame = {});

// `text` wrapped at `width`, cut to `maxLines` lines; the last line kept ends in "…" when
// anything had to go.
QString elideToLines(const QString& text, const QFont& font, int width, int maxLines);

// A scroll area drawn over a dark panel: no frame or background, a thin translucent scroller
// that shows when there is something to scroll.
void makeOverlayScroll(QScrollArea* area);

} // namespace vak::ui
