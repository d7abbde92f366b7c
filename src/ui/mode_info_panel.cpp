#include "ui/mode_info_panel.h"

#include "foundation/deliver_mode.h"
#include "ui/click_through_button.h"
#include "ui/floating_panel.h"
#include "ui/pill_layout.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QLabel>
#include <QScrollArea>

namespace vak {

namespace {

constexpr int kWidth = 620;
constexpr int kHeight = 560;
constexpr int kBottomMargin = 240;
constexpr int kTextWidth = 556;

QRect at(double x, double y, double w, double h) {
    return ui::whole(pill::fromBottomLeft(QRectF(x, y, w, h), kHeight));
}

} // namespace

ModeInfoPanel::ModeInfoPanel(std::shared_ptr<PanelPlacement> placement)
    : placement_(std::move(placement)) {}

ModeInfoPanel::~ModeInfoPanel() = default;

void ModeInfoPanel::build() {
    panel_ = std::make_unique<FloatingPanel>(
        QSize(kWidth, kHeight),
        FloatingPanel::Look{ui::grey(0.05, 0.95), 20, ui::grey(1.0, 0.1), 1}, placement_);
    FloatingPanel* content = panel_.get();
    ui::label(content, ui::qstr(ui_text::EXPLAINER_TITLE), ui::font(16, QFont::DemiBold), Qt::white,
              at(24, 516, 572, 22));

    auto* scroll = new QScrollArea(content);
    ui::makeOverlayScroll(scroll);
    scroll->setGeometry(at(24, 64, 572, 430));
    auto* document = new QWidget;
    std::vector<DeliverMode> modes = deliver_mode::pickable();
    modes.push_back(DeliverMode::ask);
    int y = 4;
    for (DeliverMode mode : modes) {
        const std::string title = mode == DeliverMode::ask
                                      ? std::string(ui_text::EXPLAINER_ASK_TITLE)
                                      : std::string(label(mode));
        ui::label(document, ui::qstr(title), ui::font(13.5, QFont::DemiBold), Qt::white,
                  QRect(0, y, kTextWidth, 18));
        QLabel* text = ui::label(document, ui::qstr(example(mode)), ui::font(12.5), ui::grey(0.78),
                                 QRect(0, y + 22, kTextWidth, 60));
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        int height = text->heightForWidth(kTextWidth);
        if (height <= 0) height = 60;
        text->setGeometry(0, y + 22, kTextWidth, height);
        y += 22 + height + 18;
    }
    document->resize(572, y);
    scroll->setWidget(document);
    document->setAutoFillBackground(false); // setWidget turns it on

    auto* done = new ClickThroughButton(ui::qstr(ui_text::EXPLAINER_DONE), content);
    done->setLook(ui::grey(1.0, 0.16), 14, 14);
    done->setGeometry(at(250, 14, 120, 34));
    QObject::connect(done, &QPushButton::clicked, content, [this] { this->done(); });
}

void ModeInfoPanel::show(std::function<void()> onClose) {
    onClose_ = std::move(onClose);
    if (!panel_) build();
    panel_->placeAtBottomCentre(kBottomMargin);
    panel_->orderFront();
}

void ModeInfoPanel::done() {
    if (panel_) panel_->orderOut();
    auto action = std::move(onClose_);
    onClose_ = nullptr;
    if (action) action();
}

bool ModeInfoPanel::isVisible() const {
    return panel_ && panel_->isVisible();
}

} // namespace vak
