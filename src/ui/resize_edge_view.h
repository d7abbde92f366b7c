#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <optional>

namespace vak {

// An invisible grip along one edge or corner of a frameless window: dragging it resizes the
// window, keeping the opposite sides in place and the window at least its minimum size.
class ResizeEdgeView final : public QWidget {
  public:
    // `edges`: pill::Edge values, two of them for a corner.
    ResizeEdgeView(int edges, QWidget* parent);

    int edges() const { return edges_; }

    // The drag, in screen coordinates (the mouse handlers call these).
    void grab(QPoint pointer);
    void drag(QPoint pointer);
    void release();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int edges_;
    std::optional<QRect> dragStartFrame_;
    std::optional<QPoint> dragStartMouse_;
};

} // namespace vak
