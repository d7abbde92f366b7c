#include "ui/waveform_view.h"

#include "ui/ui_style.h"

#include <QPainter>
#include <random>

namespace vak {

WaveformView::WaveformView(QWidget* parent) : QWidget(parent), model_(std::random_device{}()) {
    setAttribute(Qt::WA_TransparentForMouseEvents); // drags on it move the pill
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(static_cast<int>(WaveformModel::kFrameSeconds * 1000));
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { frame(); });
}

void WaveformView::start() {
    stop();
    timer_.start();
}

void WaveformView::stop() {
    timer_.stop();
    model_.reset();
    update();
}

void WaveformView::frame() {
    model_.step(height());
    update();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ui::grey(1.0, 0.92));
    const double radius = WaveformModel::kBarWidth / 2;
    for (int i = 0; i < WaveformModel::kBars; ++i) {
        painter.drawRoundedRect(model_.barRect(i, width(), height()), radius, radius);
    }
}

} // namespace vak
