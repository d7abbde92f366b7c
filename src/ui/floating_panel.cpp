#include "ui/floating_panel.h"

#include "platform/panel_placement.h"
#include "platform/panel_window.h"
#include "ui/pill_layout.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace vak {

FloatingPanel::FloatingPanel(QSize size, Look look, std::shared_ptr<PanelPlacement> placement)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      look_(look), placement_(std::move(placement)) {
    // Outside the window manager's care (override-redirect on X11) unless its rules keep our
    // panels (sway): a window manager stacks the focused full-screen window above every window it
    // manages, whatever its type or state, but never above this one; and it never gives this one
    // the focus.
    if (!placement_->windowManagerKeepsPanels()) setWindowFlag(Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(ui::qstr(ui_text::PANEL_WINDOW_TITLE));
    resize(size);
}

void FloatingPanel::orderFront() {
    placement_->prepare(ui::str(windowTitle()));
    markFloatingPanel(static_cast<std::uintptr_t>(winId())); // winId() creates the native window
    clipCorners();
    show();
    raise();
}

void FloatingPanel::orderOut() {
    hide();
}

void FloatingPanel::placeAtBottomCentre(int margin) {
    const QScreen* screen = screenUnderPointer();
    if (screen == nullptr) return;
    move(pill::bottomCentre(screen->availableGeometry(), size(), margin));
}

void FloatingPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inset = look_.borderWidth / 2;
    const QRectF frame = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    painter.setPen(look_.borderWidth > 0 ? QPen(look_.border, look_.borderWidth) : Qt::NoPen);
    painter.setBrush(look_.background);
    painter.drawRoundedRect(frame, look_.radius, look_.radius);
}

void FloatingPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!mask().isEmpty()) clipCorners();
}

void FloatingPanel::clipCorners() {
    if (compositingActive()) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), look_.radius, look_.radius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

QScreen* screenUnderPointer() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
    return QGuiApplication::primaryScreen();
}

} // namespace vak
