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
QFont font(double pixels, QFont::Weight weight = QFont::Normal);
QFont monospaceFont(double pixels, QFont::Weight weight = QFont::Normal);

// A grey of brightness `white` (0…1) with `alpha`.
QColor grey(double white, double alpha = 1.0);

QString qstr(std::string_view text);
std::string str(const QString& text);

QRect whole(const QRectF& rect);

// A plain-text label (the user's words are never read as markup) at `frame`.
QLabel* label(QWidget* parent, const QString& text, const QFont& font, const QColor& colour,
              const QRect& frame);

// `text` wrapped at `width`, cut to `maxLines` lines; the last line kept ends in "…" when
// anything had to go.
QString elideToLines(const QString& text, const QFont& font, int width, int maxLines);

// A scroll area drawn over a dark panel: no frame or background, a thin translucent scroller
// that shows when there is something to scroll.
void makeOverlayScroll(QScrollArea* area);

} // namespace vak::ui
