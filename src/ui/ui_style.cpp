#include "ui/ui_style.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <cmath>

namespace vak::ui {

namespace {

QFont sized(QFont base, double pixels, QFont::Weight weight) {
    // Qt has whole pixel sizes only; a point size at the screen's logical resolution gives the
    // fractional ones (11.5, 13.5).
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
    base.setPointSizeF(pixels * 72.0 / (dpi > 0 ? dpi : 96.0));
    base.setWeight(weight);
    return base;
}

} // namespace

QFont font(double pixels, QFont::Weight weight) {
    return sized(QGuiApplication::font(), pixels, weight);
}

QFont monospaceFont(double pixels, QFont::Weight weight) {
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), pixels, weight);
}

QColor grey(double white, double alpha) {
    QColor colour;
    colour.setRgbF(static_cast<float>(white), static_cast<float>(white), static_cast<float>(white),
                   static_cast<float>(alpha));
    return colour;
}

QString qstr(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string str(const QString& text) {
    return text.toStdString();
}

QRect whole(const QRectF& rect) {
    // Edges rounded, not position and size apart, so neighbours stay flush.
    const int left = static_cast<int>(std::lround(rect.left()));
    const int top = static_cast<int>(std::lround(rect.top()));
    const int right = static_cast<int>(std::lround(rect.right()));
    const int bottom = static_cast<int>(std::lround(rect.bottom()));
    return {left, top, right - left, bottom - top};
}

QLabel* label(QWidget* parent, const QString& text, const QFont& font, const QColor& colour,
              const QRect& frame) {
    auto* view = new QLabel(parent);
    view->setTextFormat(Qt::PlainText);
    view->setText(text);
    view->setFont(font);
    QPalette palette = view->palette();
    palette.setColor(QPalette::WindowText, colour);
    view->setPalette(palette);
    if (frame.isValid()) view->setGeometry(frame);
    view->setFocusPolicy(Qt::NoFocus);
    return view;
}

QString elideToLines(const QString& text, const QFont& font, int width, int maxLines) {
    if (maxLines <= 0 || width <= 0) return {};
    const QFontMetricsF metrics(font);
    QStringList kept;
    const QStringList paragraphs = text.split('\n');
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        QTextLayout layout(paragraphs[p], font);
        layout.beginLayout();
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) break;
            line.setLineWidth(width);
            const QString piece = paragraphs[p].mid(line.textStart(), line.textLength()).trimmed();
            if (static_cast<int>(kept.size()) == maxLines - 1) {
                // The last line that fits: whatever follows is cut and marked.
                const QString rest = paragraphs[p].mid(line.textStart()).simplified();
                QString last = metrics.elidedText(rest, Qt::ElideRight, width);
                if (last == rest && p + 1 < paragraphs.size()) {
                    last = metrics.elidedText(rest + QStringLiteral(" …"), Qt::ElideRight, width);
                }
                layout.endLayout();
                kept << last;
                return kept.join('\n');
            }
            kept << piece;
        }
        layout.endLayout();
    }
    return kept.join('\n');
}

void makeOverlayScroll(QScrollArea* area) {
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setAutoFillBackground(false);
    area->viewport()->setAutoFillBackground(false);
    area->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    area->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 7px; margin: 2px 1px; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,80); border-radius: 2px;"
        " min-height: 20px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
}

} // namespace vak::ui
