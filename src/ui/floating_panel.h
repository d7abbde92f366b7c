#pragma once

#include <QColor>
#include <QWidget>
#include <memory>

class QScreen;

namespace vak {

class PanelPlacement;

// A borderless panel that floats above every window on every workspace, full-screen ones
// included, and never takes the keyboard focus from the application the user is working in:
// shown without activating, not focusable, left out of the task bar. Its background is a
// translucent rounded rectangle.
class FloatingPanel : public QWidget {
  public:
    struct Look {
        QColor background;
        double radius = 16;
        QColor border = Qt::transparent;
        double borderWidth = 0;
    };

    // `placement` is how the desktop keeps it above the others.
    FloatingPanel(QSize size, Look look, std::shared_ptr<PanelPlacement> placement);

    // Shows the panel above everything without activating it.
    void orderFront();
    void orderOut();
    // Moves it to the bottom centre of the free area of the screen under the pointer (or the
    // primary screen), `margin` above its bottom edge.
    void placeAtBottomCentre(int margin);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void clipCorners();
    Look look_;
    std::shared_ptr<PanelPlacement> placement_;
};

// The screen under the pointer, else the primary screen.
QScreen* screenUnderPointer();

} // namespace vak
