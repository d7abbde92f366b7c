#pragma once

#include "ui/waveform_model.h"

#include <QTimer>
#include <QWidget>

namespace vak {

// The pill's row of level bars, animated at 30 frames per second while started.
class WaveformView final : public QWidget {
  public:
    explicit WaveformView(QWidget* parent);

    void start();
    void stop();
    void setLevel(float level) { model_.setLevel(level); }
    bool isRunning() const { return timer_.isActive(); }
    const WaveformModel& model() const { return model_; }
    // One animation frame, as the timer runs it.
    void frame();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    WaveformModel model_;
    QTimer timer_;
};

} // namespace vak
