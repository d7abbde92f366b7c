#include "ui/resize_edge_view.h"

#include "base/log.h"
#include "ui/pill_layout.h"

#include <QMouseEvent>
#include <string>

namespace vak {

ResizeEdgeView::ResizeEdgeView(int edges, QWidget* parent) : QWidget(parent), edges_(edges) {
    const bool sideways = (edges & (pill::Left | pill::Right)) != 0;
    const bool upDown = (edges & (pill::Top | pill::Bottom)) != 0;
    setCursor(sideways && upDown ? Qt::CrossCursor
              : sideways         ? Qt::SizeHorCursor
                                 : Qt::SizeVerCursor);
    setFocusPolicy(Qt::NoFocus);
}

void ResizeEdgeView::grab(QPoint pointer) {
    dragStartFrame_ = window()->geometry();
    dragStartMouse_ = pointer;
    log(LogLevel::info, "resize grip grabbed (" + std::to_string(edges_) + ")");
}

void ResizeEdgeView::drag(QPoint pointer) {
    if (!dragStartFrame_ || !dragStartMouse_) return;
    window()->setGeometry(pill::resizedFrame(*dragStartFrame_, window()->minimumSize(), edges_,
                                             pointer - *dragStartMouse_));
}

void ResizeEdgeView::release() {
    if (!dragStartFrame_) return;
    dragStartFrame_.reset();
    dragStartMouse_.reset();
    const QSize size = window()->size();
    log(LogLevel::info,
        "pill resized to " + std::to_string(size.width()) + "×" + std::to_string(size.height()));
}

void ResizeEdgeView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    grab(event->globalPosition().toPoint());
    event->accept(); // not a drag of the whole window
}

void ResizeEdgeView::mouseMoveEvent(QMouseEvent* event) {
    drag(event->globalPosition().toPoint());
    event->accept();
}

void ResizeEdgeView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    release();
    event->accept();
}

} // namespace vak
