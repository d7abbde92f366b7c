#pragma once

#include <QColor>
#include <QPushButton>

namespace vak {

// A flat rounded button for the floating panels. Its first click acts even though its window is
// never the active one, and clicking it never moves the keyboard focus.
class ClickThroughButton final : public QPushButton {
  public:
    ClickThroughButton(const QString& title, QWidget* parent);

    // Background, corner radius and title size (white, semibold, centred).
    void setLook(const QColor& background, double radius, double titlePixels);
    void setBackground(const QColor& background);
    const QColor& background() const { return background_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor background_ = QColor(255, 255, 255, 36);
    double radius_ = 14;
};

} // namespace vak
