#include "ui/durad_ave_panel.h"

#include "base/main_queue.h"
#include "producer/producer_link.h"
#include "ui/floating_panel.h"
#include "ui/pill_layout.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace vak {

namespace {

constexpr int kWidth = 660;
constexpr int kHeight = 234;
constexpr int kBottomMargin = 12;
constexpr int kRefreshMilliseconds = 800;
constexpr double kLookBackSeconds = 3; // records from just before the tap still show

QRect at(double x, double y, double w, double h) {
    return ui::whole(pill::fromBottomLeft(QRectF(x, y, w, h), kHeight));
}

} // namespace

DuradAvePanel::DuradAvePanel(MainQueue& main, std::uint16_t producerKey, std::string inboxPath,
                             std::string outboxPath, std::shared_ptr<PanelPlacement> placement)
    : main_(main), producerKey_(producerKey), inboxPath_(std::move(inboxPath)),
      outboxPath_(std::move(outboxPath)), placement_(std::move(placement)) {
    timer_.setInterval(kRefreshMilliseconds);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { refresh(); });
}

DuradAvePanel::~DuradAvePanel() = default;

void DuradAvePanel::show() {
    main_.post(lifetime_.guard([this] { showNow(); }));
}

void DuradAvePanel::hide() {
    main_.post(lifetime_.guard([this] { hideNow(); }));
}

void DuradAvePanel::build() {
    panel_ = std::make_unique<FloatingPanel>(
        QSize(kWidth, kHeight), FloatingPanel::Look{ui::grey(0.05, 0.94), 16, {}, 0}, placement_);
    ui::label(panel_.get(), ui::qstr(ui_text::producerTitle(producerKey_)),
              ui::font(12, QFont::DemiBold), ui::grey(0.7), at(16, 206, 628, 16));
    body_ =
        ui::label(panel_.get(), {}, ui::monospaceFont(11.5), ui::grey(0.92), at(16, 10, 628, 188));
    body_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void DuradAvePanel::showNow() {
    sessionStartTs_ = unixNow() - kLookBackSeconds;
    if (!panel_) build();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        panel_->move(
            pill::bottomCentre(screen->availableGeometry(), panel_->size(), kBottomMargin));
    }
    refresh();
    panel_->orderFront();
    timer_.start();
}

void DuradAvePanel::hideNow() {
    timer_.stop();
    if (panel_) panel_->orderOut();
}

void DuradAvePanel::refresh() {
    if (!body_) return;
    bodyText_ = producerPanelText(inboxPath_, outboxPath_, sessionStartTs_);
    // Wrapped lines may overflow the body; its last visible line is cut with "…".
    const QFont font = body_->font();
    const int lines =
        std::max(1, static_cast<int>(body_->height() / QFontMetricsF(font).lineSpacing()));
    body_->setText(ui::elideToLines(ui::qstr(bodyText_), font, body_->width(), lines));
}

bool DuradAvePanel::isVisible() const {
    return panel_ && panel_->isVisible();
}

std::string DuradAvePanel::bodyText() const {
    return bodyText_;
}

} // namespace vak
