#include "ui/notice_panel.h"

#include "base/main_queue.h"
#include "ui/floating_panel.h"
#include "ui/ui_style.h"

#include <QLabel>

namespace vak {

namespace {

constexpr int kWidth = 520;
constexpr int kHeight = 64;
constexpr int kBottomMargin = 28;

} // namespace

NoticePanel::NoticePanel(MainQueue& main, std::shared_ptr<PanelPlacement> placement)
    : main_(main), placement_(std::move(placement)) {}

NoticePanel::~NoticePanel() {
    hideLater_.cancel();
}

void NoticePanel::show(const std::string& message, double seconds) {
    if (!panel_) {
        panel_ = std::make_unique<FloatingPanel>(
            QSize(kWidth, kHeight),
            FloatingPanel::Look{ui::grey(0.05, 0.92), 18, ui::grey(1.0, 0.1), 1}, placement_);
        label_ = ui::label(panel_.get(), {}, ui::font(14, QFont::Medium), Qt::white,
                           QRect(20, 0, kWidth - 40, kHeight));
        label_->setAlignment(Qt::AlignCenter);
        label_->setWordWrap(true);
    }
    label_->setText(ui::qstr(message));
    panel_->placeAtBottomCentre(kBottomMargin);
    panel_->orderFront();
    hideLater_.cancel();
    hideLater_ = main_.after(seconds, lifetime_.guard([this] { panel_->orderOut(); }));
}

bool NoticePanel::isVisible() const {
    return panel_ && panel_->isVisible();
}

std::string NoticePanel::text() const {
    return label_ != nullptr ? ui::str(label_->text()) : std::string();
}

} // namespace vak
