#pragma once

#include "ui/floating_panel.h"

#include <functional>
#include <optional>

namespace vak {

// The recording pill's window: a floating panel that moves when its background is dragged and
// tells its owner when it moved or changed size.
class PillPanel final : public FloatingPanel {
  public:
    explicit PillPanel(std::shared_ptr<PanelPlacement> placement);

    std::function<void()> onMoved;
    std::function<void()> onResized;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::optional<QPoint> grabOffset_; // pointer minus window origin while dragging
};

} // namespace vak
