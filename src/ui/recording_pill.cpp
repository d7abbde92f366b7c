#include "ui/recording_pill.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "platform/panel_placement.h"
#include "ui/click_through_button.h"
#include "ui/floating_panel.h"
#include "ui/pill_layout.h"
#include "ui/pill_panel.h"
#include "ui/resize_edge_view.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"
#include "ui/waveform_view.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

namespace vak {

namespace {

constexpr int kTickMilliseconds = 500;
// How long the window system may take to report our own placement of the pill back.
constexpr double kOwnPlacementSeconds = 0.25;
// How often, and how many times, the pill asks to be placed while the window system does not
// know its window yet.
constexpr double kPlacementRetrySeconds = 0.05;
constexpr int kPlacementAttempts = 20;

QColor modeButtonBackground(DeliverMode mode) {
    return ui::grey(1.0, mode == DeliverMode::ask ? 0.14 : 0.3);
}

} // namespace

RecordingPill::RecordingPill(MainQueue& main, std::function<double()> now, Actions actions,
                             std::uint16_t hotkey, std::shared_ptr<PanelPlacement> placement)
    : main_(main), now_(std::move(now)), actions_(std::move(actions)), hotkey_(hotkey),
      placement_(std::move(placement)) {
    build();
    clock_.setInterval(kTickMilliseconds);
    QObject::connect(&clock_, &QTimer::timeout, &clock_, [this] { tick(); });
    clock_.start();
}

RecordingPill::~RecordingPill() = default;

void RecordingPill::build() {
    panel_ = std::make_unique<PillPanel>(placement_);
    PillPanel* content = panel_.get();
    content->onMoved = [this] { rememberFrame(); };
    content->onResized = [this] {
        layout();
        rememberFrame();
    };

    elapsedField_ = ui::label(content, QStringLiteral("0:00"), ui::font(14, QFont::DemiBold),
                              ui::grey(0.85), {});
    elapsedField_->setAttribute(Qt::WA_TransparentForMouseEvents);
    waveform_ = new WaveformView(content);

    const auto button = [content](std::string_view title, std::string_view tooltip,
                                  const QColor& background, double titlePixels,
                                  const std::function<void()>& action) {
        auto* view = new ClickThroughButton(ui::qstr(title), content);
        view->setToolTip(ui::qstr(tooltip));
        view->setLook(background, 14, titlePixels);
        QObject::connect(view, &QPushButton::clicked, content, [action] {
            if (action) action();
        });
        return view;
    };
    finishButton_ = button(ui_text::DONE_TITLE, ui_text::doneTooltip(hotkey_),
                           QColor::fromRgbF(0.13f, 0.55f, 0.28f, 0.95f), 15, actions_.finish);
    cancelButton_ = button(ui_text::CANCEL_BUTTON, ui_text::CANCEL_TOOLTIP,
                           QColor::fromRgbF(0.62f, 0.16f, 0.16f, 0.95f), 13, actions_.cancel);
    modeButton_ = button(std::string(ui_text::MODE_PREFIX) + std::string(ui_text::MODE_BUTTON),
                         ui_text::MODE_TOOLTIP, ui::grey(1.0, 0.14), 15, actions_.pickMode);
    settingsButton_ = button(ui_text::SETTINGS_BUTTON, ui_text::SETTINGS_TOOLTIP,
                             ui::grey(1.0, 0.14), 13, actions_.settings);

    captionScroll_ = new QScrollArea(content);
    ui::makeOverlayScroll(captionScroll_);
    captionScroll_->setWidgetResizable(false);
    captionField_ = ui::label(nullptr, ui::qstr(ui_text::LISTENING), ui::font(16, QFont::Medium),
                              Qt::white, {});
    captionField_->setWordWrap(true);
    captionField_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    captionField_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    captionScroll_->setWidget(captionField_);
    captionField_->setAutoFillBackground(false); // setWidget turns it on

    hintField_ =
        ui::label(content, ui::qstr(ui_text::hint(hotkey_)), ui::font(11), ui::grey(1.0, 0.55), {});
    hintField_->setAttribute(Qt::WA_TransparentForMouseEvents);

    for (std::size_t i = 0; i < pill::kGripEdges.size(); ++i) {
        resizeEdges_[i] = new ResizeEdgeView(pill::kGripEdges[i], content);
    }
}

void RecordingPill::layout() {
    const QSize size = panel_->size();
    const pill::Layout frames = pill::layout(size.width(), size.height());
    settingsButton_->setGeometry(ui::whole(frames.settings));
    elapsedField_->setGeometry(ui::whole(frames.elapsed));
    cancelButton_->setGeometry(ui::whole(frames.cancel));
    waveform_->setVisible(frames.waveform.has_value());
    if (frames.waveform) waveform_->setGeometry(ui::whole(*frames.waveform));
    modeButton_->setGeometry(ui::whole(frames.mode));
    finishButton_->setGeometry(ui::whole(frames.finish));
    hintField_->setVisible(frames.hint.has_value());
    if (frames.hint) hintField_->setGeometry(ui::whole(*frames.hint));
    captionScroll_->setGeometry(ui::whole(frames.caption));
    for (std::size_t i = 0; i < resizeEdges_.size(); ++i) {
        resizeEdges_[i]->setGeometry(ui::whole(frames.grips[i]));
        resizeEdges_[i]->raise(); // above the views they overlap
    }
    // Re-wrap the caption for the new width.
    setCaption(captionText());
}

void RecordingPill::setCaption(const std::string& text) {
    const std::string shown = pill::captionTail(text);
    captionField_->setText(ui::qstr(shown));
    // The viewport takes its new size only once the pill is shown: the first caption would be
    // wrapped into its default width, a narrow column.
    const QSize clip = captionScroll_->maximumViewportSize();
    const int width = std::max(clip.width() - 4, 0);
    const int height = std::max(clip.height(), captionField_->heightForWidth(width) + 6);
    captionField_->setGeometry(0, 0, width, height);
    // The newest words stay in view.
    captionScroll_->verticalScrollBar()->setValue(std::max(height - clip.height(), 0));
}

void RecordingPill::setLevel(float level) {
    waveform_->setLevel(level);
}

void RecordingPill::showMode(DeliverMode mode) {
    const std::string name =
        mode == DeliverMode::ask ? std::string(ui_text::MODE_BUTTON) : std::string(label(mode));
    modeButton_->setText(ui::qstr(std::string(ui_text::MODE_PREFIX) + name));
    modeButton_->setBackground(modeButtonBackground(mode));
}

void RecordingPill::show(std::string_view caption) {
    recordStart_ = now_();
    pausedAt_.reset();
    setCaption(std::string(caption));
    elapsedField_->setText(QStringLiteral("0:00"));

    // Our own placement is not the user's: the window system reports it back later, so the
    // frame tracking stays off until those reports have been handled.
    suppressFrameTracking_ = true;
    QRect frame;
    if (customFrame_) {
        frame = *customFrame_;
    } else if (const QScreen* screen = screenUnderPointer()) {
        frame = QRect(pill::bottomCentre(screen->availableGeometry(),
                                         QSize(pill::kWidth, pill::kHeight), pill::kBottomMargin),
                      QSize(pill::kWidth, pill::kHeight));
    } else {
        frame = QRect(0, 0, pill::kWidth, pill::kHeight);
    }
    panel_->setGeometry(frame);
    layout();
    panel_->orderFront();
    keepPlaced(frame, kPlacementAttempts);
    waveform_->start();
    main_.after(kOwnPlacementSeconds, lifetime_.guard([this] { suppressFrameTracking_ = false; }));
    log(LogLevel::info, "pill frame " + std::to_string(frame.x()) + "," +
                            std::to_string(frame.y()) + " " + std::to_string(frame.width()) + "×" +
                            std::to_string(frame.height()));
}

void RecordingPill::keepPlaced(QRect frame, int attempts) {
    if (!panel_->isVisible() || attempts <= 0) return;
    if (placement_->place(ui_text::PILL_WINDOW_TITLE, frame.x(), frame.y())) return;
    main_.after(kPlacementRetrySeconds,
                lifetime_.guard([this, frame, attempts] { keepPlaced(frame, attempts - 1); }));
}

void RecordingPill::setHint(std::string_view text) {
    hintField_->setText(ui::qstr(text.empty() ? ui_text::hint(hotkey_) : std::string(text)));
}

void RecordingPill::hide() {
    recordStart_.reset();
    pausedAt_.reset();
    waveform_->stop();
    panel_->orderOut();
}

void RecordingPill::rememberFrame() {
    if (suppressFrameTracking_ || !panel_->isVisible()) return;
    customFrame_ = panel_->geometry();
}

void RecordingPill::tick() {
    if (!recordStart_) return;
    if (!pausedAt_) {
        const std::string text = pill::elapsedText(now_() - *recordStart_);
        elapsedField_->setText(ui::qstr(text));
        if (actions_.elapsed) actions_.elapsed(text);
    } else {
        elapsedField_->setText(ui::qstr(pill::elapsedText(*pausedAt_ - *recordStart_)));
    }
}

void RecordingPill::pause(std::string_view reason) {
    if (!pausedAt_) pausedAt_ = now_();
    waveform_->stop();
    setCaption(std::string(reason));
}

void RecordingPill::resume() {
    if (pausedAt_) {
        if (recordStart_) *recordStart_ += now_() - *pausedAt_;
        pausedAt_.reset();
    }
    if (recordStart_) {
        waveform_->start();
        setCaption(std::string(ui_text::LISTENING));
        tick();
    }
}

std::string RecordingPill::captionText() const {
    return ui::str(captionField_->text());
}

std::string RecordingPill::elapsedText() const {
    return ui::str(elapsedField_->text());
}

std::string RecordingPill::hintText() const {
    return ui::str(hintField_->text());
}

} // namespace vak
