#include "ui/click_through_button.h"

#include "ui/ui_style.h"

#include <QPainter>

namespace vak {

ClickThroughButton::ClickThroughButton(const QString& title, QWidget* parent)
    : QPushButton(title, parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::ArrowCursor);
    setFlat(true);
}

void ClickThroughButton::setLook(const QColor& background, double radius, double titlePixels) {
    background_ = background;
    radius_ = radius;
    setFont(ui::font(titlePixels, QFont::DemiBold));
    update();
}

void ClickThroughButton::setBackground(const QColor& background) {
    background_ = background;
    update();
}

void ClickThroughButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = background_;
    // A little lighter under the pointer and while held, so a click shows.
    if (isDown()) {
        fill = fill.lighter(135);
        fill.setAlphaF(std::min(1.0f, fill.alphaF() + 0.1f));
    } else if (underMouse()) {
        fill.setAlphaF(std::min(1.0f, fill.alphaF() + 0.06f));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), radius_, radius_);
    painter.setPen(Qt::white);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace vak
