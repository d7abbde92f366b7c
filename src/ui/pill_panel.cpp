#include "ui/pill_panel.h"

#include "ui/pill_layout.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QMouseEvent>

namespace vak {

PillPanel::PillPanel(std::shared_ptr<PanelPlacement> placement)
    : FloatingPanel(QSize(pill::kWidth, pill::kHeight),
                    Look{ui::grey(0.05, 0.92), 24, ui::grey(1.0, 0.1), 1}, std::move(placement)) {
    setMinimumSize(pill::kMinWidth, pill::kMinHeight);
    setWindowTitle(ui::qstr(ui_text::PILL_WINDOW_TITLE));
}

void PillPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    grabOffset_ = event->globalPosition().toPoint() - pos();
}

void PillPanel::mouseMoveEvent(QMouseEvent* event) {
    if (grabOffset_) move(event->globalPosition().toPoint() - *grabOffset_);
}

void PillPanel::mouseReleaseEvent(QMouseEvent*) {
    grabOffset_.reset();
}

void PillPanel::moveEvent(QMoveEvent* event) {
    FloatingPanel::moveEvent(event);
    if (onMoved) onMoved();
}

void PillPanel::resizeEvent(QResizeEvent* event) {
    FloatingPanel::resizeEvent(event);
    if (onResized) onResized();
}

} // namespace vak
