#include "ui/ui_controller.h"

#include "base/files.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "platform/file_opener.h"
#include "platform/service_control.h"
#include "ui/choice_panel.h"
#include "ui/click_through_button.h"
#include "ui/durad_ave_panel.h"
#include "ui/first_run_note.h"
#include "ui/floating_panel.h"
#include "ui/mode_info_panel.h"
#include "ui/pill_layout.h"
#include "ui/pill_panel.h"
#include "ui/resize_edge_view.h"
#include "ui/settings_window.h"
#include "ui/status_item.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"
#include "ui/waveform_view.h"

#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

namespace vak {

namespace {

constexpr int kTickMilliseconds = 500;
constexpr double kQuitDelaySeconds = 2.0;
// How long the window system may take to report our own placement of the pill back.
constexpr double kOwnPlacementSeconds = 0.25;

QColor modeButtonBackground(DeliverMode mode) {
    return ui::grey(1.0, mode == DeliverMode::ask ? 0.14 : 0.3);
}

} // namespace

UIController::UIController(SessionControl* session, MainQueue& main, Config config,
                           UiServices services)
    : session_(session), main_(main), config_(std::move(config)), services_(std::move(services)) {}

UIController::~UIController() = default;

// ---- Building

void UIController::setup() {
    if (panel_) return;
    status_ = std::make_unique<StatusItem>(StatusItem::Actions{
        [this] { menuToggle(); }, [this] { menuCancel(); }, [this] { menuSettings(); },
        [this] { menuLog(); }, [this] { menuQuit(); }});
    if (!status_->show()) {
        log(LogLevel::warning,
            "no system tray on this desktop — the status menu is not shown (Quit with "
            "`systemctl --user stop vak-dictate`)");
    }
    buildPanel();

    selectedMode_ = config_.selectedMode;
    if (selectedMode_ != DeliverMode::ask) {
        log(LogLevel::info, "mode restored: " + std::string(label(selectedMode_)));
    }
    refreshModeButton();
    layoutHUD();

    uiTimer_.setInterval(kTickMilliseconds);
    QObject::connect(&uiTimer_, &QTimer::timeout, &uiTimer_, [this] { tick(); });
    uiTimer_.start();
}

void UIController::buildPanel() {
    panel_ = std::make_unique<PillPanel>();
    PillPanel* content = panel_.get();
    content->onMoved = [this] { rememberFrame(); };
    content->onResized = [this] {
        layoutHUD();
        rememberFrame();
    };

    elapsedField_ = ui::label(content, QStringLiteral("0:00"), ui::font(14, QFont::DemiBold),
                              ui::grey(0.85), {});
    elapsedField_->setAttribute(Qt::WA_TransparentForMouseEvents);
    waveform_ = new WaveformView(content);

    const auto button = [content](std::string_view title, std::string_view tooltip,
                                  const QColor& background, double titlePixels) {
        auto* view = new ClickThroughButton(ui::qstr(title), content);
        view->setToolTip(ui::qstr(tooltip));
        view->setLook(background, 14, titlePixels);
        return view;
    };
    finishButton_ = button(ui_text::DONE_TITLE, ui_text::doneTooltip(),
                           QColor::fromRgbF(0.13f, 0.55f, 0.28f, 0.95f), 15);
    cancelButton_ = button(ui_text::CANCEL_BUTTON, ui_text::CANCEL_TOOLTIP,
                           QColor::fromRgbF(0.62f, 0.16f, 0.16f, 0.95f), 13);
    modeMenuButton_ = button(std::string(ui_text::MODE_PREFIX) + std::string(ui_text::MODE_BUTTON),
                             ui_text::MODE_TOOLTIP, ui::grey(1.0, 0.14), 15);
    settingsButton_ =
        button(ui_text::SETTINGS_BUTTON, ui_text::SETTINGS_TOOLTIP, ui::grey(1.0, 0.14), 13);
    QObject::connect(finishButton_, &QPushButton::clicked, content, [this] { hudFinish(); });
    QObject::connect(cancelButton_, &QPushButton::clicked, content, [this] { hudCancel(); });
    QObject::connect(modeMenuButton_, &QPushButton::clicked, content, [this] { hudPickMode(); });
    QObject::connect(settingsButton_, &QPushButton::clicked, content, [this] { modeSettings(); });

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
        ui::label(content, ui::qstr(ui_text::hint()), ui::font(11), ui::grey(1.0, 0.55), {});
    hintField_->setAttribute(Qt::WA_TransparentForMouseEvents);

    for (std::size_t i = 0; i < pill::kGripEdges.size(); ++i) {
        resizeEdges_[i] = new ResizeEdgeView(pill::kGripEdges[i], content);
    }
}

// ---- Layout

void UIController::layoutHUD() {
    if (!panel_) return;
    const QSize size = panel_->size();
    const pill::Layout frames = pill::layout(size.width(), size.height());
    settingsButton_->setGeometry(ui::whole(frames.settings));
    elapsedField_->setGeometry(ui::whole(frames.elapsed));
    cancelButton_->setGeometry(ui::whole(frames.cancel));
    waveform_->setVisible(frames.waveform.has_value());
    if (frames.waveform) waveform_->setGeometry(ui::whole(*frames.waveform));
    modeMenuButton_->setGeometry(ui::whole(frames.mode));
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

void UIController::setCaption(const std::string& text) {
    if (!captionField_) return;
    const std::string shown = pill::captionTail(text);
    captionField_->setText(ui::qstr(shown));
    const QSize clip = captionScroll_->viewport()->size();
    const int width = std::max(clip.width() - 4, 0);
    const int height = std::max(clip.height(), captionField_->heightForWidth(width) + 6);
    captionField_->setGeometry(0, 0, width, height);
    // The newest words stay in view.
    captionScroll_->verticalScrollBar()->setValue(std::max(height - clip.height(), 0));
}

void UIController::refreshModeButton() {
    if (!modeMenuButton_) return;
    const std::string name = selectedMode_ == DeliverMode::ask ? std::string(ui_text::MODE_BUTTON)
                                                               : std::string(label(selectedMode_));
    modeMenuButton_->setText(ui::qstr(std::string(ui_text::MODE_PREFIX) + name));
    modeMenuButton_->setBackground(modeButtonBackground(selectedMode_));
}

void UIController::setSelectedMode(DeliverMode mode) {
    selectedMode_ = mode;
    refreshModeButton();
}

// ---- Recording

void UIController::recordingStarted() {
    setup();
    recordStart_ = services_.now();
    pausedAt_.reset();
    modePickedThisRecording_ = false;
    setStatusTitle(std::string(ui_text::RECORDING_STATUS) + "0:00");
    status_->setToggleTitle(ui_text::stopTitle());

    const bool captions = config_.liveCaptions && isRegularFile(config_.captionModel);
    setCaption(std::string(captions ? ui_text::LISTENING : ui_text::RECORDING));
    elapsedField_->setText(QStringLiteral("0:00"));
    refreshModeButton();

    // Our own placement is not the user's: the window system reports it back later, so the
    // frame tracking stays off until those reports have been handled.
    suppressFrameTracking_ = true;
    QRect frame;
    if (customHUDFrame_) {
        frame = *customHUDFrame_;
    } else if (const QScreen* screen = screenUnderPointer()) {
        frame = QRect(pill::bottomCentre(screen->availableGeometry(),
                                         QSize(pill::kWidth, pill::kHeight), pill::kBottomMargin),
                      QSize(pill::kWidth, pill::kHeight));
    } else {
        frame = QRect(0, 0, pill::kWidth, pill::kHeight);
    }
    panel_->setGeometry(frame);
    layoutHUD();
    panel_->orderFront();
    waveform_->start();
    main_.after(kOwnPlacementSeconds, lifetime_.guard([this] { suppressFrameTracking_ = false; }));
    log(LogLevel::info, "pill frame " + std::to_string(frame.x()) + "," +
                            std::to_string(frame.y()) + " " + std::to_string(frame.width()) + "×" +
                            std::to_string(frame.height()));
}

void UIController::recordingStopped() {
    recordStart_.reset();
    pausedAt_.reset();
    if (panel_) {
        waveform_->stop();
        panel_->orderOut();
        status_->setToggleTitle(ui_text::startTitle());
    }
    refreshIdleOrBusy();
}

void UIController::setLevel(float level) {
    if (waveform_) waveform_->setLevel(level);
}

void UIController::setBusy(int delta) {
    busyCount_ = std::max(busyCount_ + delta, 0);
    refreshIdleOrBusy();
}

void UIController::refreshIdleOrBusy() {
    if (recordStart_) return;
    setStatusTitle(busyCount_ >= 1 ? ui_text::BUSY_STATUS : ui_text::IDLE_STATUS);
}

void UIController::setStatusTitle(std::string_view title) {
    if (status_) status_->setTitle(title);
}

void UIController::rememberFrame() {
    if (suppressFrameTracking_ || !panel_ || !panel_->isVisible()) return;
    customHUDFrame_ = panel_->geometry();
}

void UIController::tick() {
    if (!recordStart_ || !elapsedField_) return;
    if (!pausedAt_) {
        const std::string text = pill::elapsedText(services_.now() - *recordStart_);
        elapsedField_->setText(ui::qstr(text));
        setStatusTitle(std::string(ui_text::RECORDING_STATUS) + text);
    } else {
        elapsedField_->setText(ui::qstr(pill::elapsedText(*pausedAt_ - *recordStart_)));
    }
}

void UIController::showPaused(bool paused, std::string_view message) {
    if (paused) {
        if (!pausedAt_)
            pausedAt_ = services_.now(); // a second reason keeps the first pause's start
        if (waveform_) waveform_->stop();
        setCaption(std::string(message));
        setStatusTitle(ui_text::PAUSED_STATUS);
        return;
    }
    if (pausedAt_) {
        if (recordStart_) *recordStart_ += services_.now() - *pausedAt_;
        pausedAt_.reset();
    }
    if (recordStart_) {
        if (waveform_) waveform_->start();
        setCaption(std::string(ui_text::LISTENING));
        tick();
    }
}

// ---- Panels the session shows

void UIController::presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                                 std::function<void()> onProfessional,
                                 std::function<void()> onKeep) {
    ChoicePanel::show(main_, transcript, std::move(onSummarize), std::move(onProfessional),
                      std::move(onKeep), config_.polishAskTimeout);
}

void UIController::explainAfterFirstDictation() {
    vak::explainAfterFirstDictation(main_);
}

void UIController::showProducerPanel() {
    producerPanel().show();
}

void UIController::hideProducerPanel() {
    producerPanel().hide();
}

bool UIController::isCapturingHotkey() const {
    return settings_ && settings_->isListening();
}

SettingsWindow& UIController::settingsWindow() {
    if (!settings_) settings_ = std::make_unique<SettingsWindow>(*this, main_);
    return *settings_;
}

ModeInfoPanel& UIController::modeInfoPanel() {
    if (!modeInfo_) modeInfo_ = std::make_unique<ModeInfoPanel>();
    return *modeInfo_;
}

DuradAvePanel& UIController::producerPanel() {
    if (!producer_) producer_ = std::make_unique<DuradAvePanel>(main_);
    return *producer_;
}

// ---- Menu items

void UIController::menuToggle() {
    if (session_) session_->toggle();
}

void UIController::menuCancel() {
    if (session_) session_->cancelRecording();
}

void UIController::menuSettings() {
    settingsWindow().show();
}

void UIController::menuLog() {
    services_.files->open(processValues().LOG);
}

void UIController::menuQuit() {
    // Taken out of the service first, so nothing starts the program again before the next
    // login; the exit follows whether or not that worked.
    services_.service->stopService();
    main_.after(kQuitDelaySeconds, lifetime_.guard([this] { services_.exit(0); }));
}

// ---- Pill buttons

void UIController::hudFinish() {
    log(LogLevel::info, "finish pressed on HUD — push to live");
    if (session_ && session_->isRecording()) session_->finishInstantly();
}

void UIController::hudCancel() {
    log(LogLevel::info, "cancel pressed on HUD");
    if (session_ && session_->isRecording()) session_->cancelRecording();
}

void UIController::modeSettings() {
    settingsWindow().show();
}

void UIController::hudPickMode() {
    if (!panel_) return;
    // A menu closed by this very click may still be finishing its own events.
    if (modeMenu_) modeMenu_.release()->deleteLater();
    modeMenu_ = std::make_unique<QMenu>();
    QMenu* menu = modeMenu_.get();
    menu->setToolTipsVisible(true);
    const auto addMode = [&](const QString& title, DeliverMode mode) {
        QAction* item = menu->addAction(title);
        item->setToolTip(ui::qstr(example(mode)));
        item->setCheckable(true);
        item->setChecked(mode == selectedMode_);
        item->setData(ui::qstr(label(mode))); // what the choice is known by
        QObject::connect(item, &QAction::triggered, menu,
                         [this, name = std::string(label(mode))] { hudModeChosen(name); });
    };
    for (DeliverMode mode : deliver_mode::pickable())
        addMode(ui::qstr(label(mode)), mode);
    menu->addSeparator();
    addMode(ui::qstr(ui_text::ASK_ITEM), DeliverMode::ask);
    menu->addSeparator();
    QObject::connect(menu->addAction(ui::qstr(ui_text::MODE_INFO_ITEM)), &QAction::triggered, menu,
                     [this] { hudModeInfo(); });

    if (session_ && session_->isRecording() && !session_->isCapturePaused()) {
        session_->pauseCapture();
        modePauseActive_ = true;
        showPaused(true, ui_text::PAUSED_FOR_MODE_MENU);
        log(LogLevel::info, "recording paused while the mode menu is open");
    }
    QObject::connect(menu, &QMenu::aboutToHide, menu, [this] {
        // After the chosen item has run: picking the explainer keeps the pause going.
        main_.post(lifetime_.guard([this] {
            const bool stillOpen =
                (modeInfo_ && modeInfo_->isVisible()) || (modeMenu_ && modeMenu_->isVisible());
            if (modePauseActive_ && !stillOpen) resumeAfterModePause();
        }));
    });
    // Opens upwards from the button's top-left corner, 6 points clear of it.
    const QSize menuSize = menu->sizeHint();
    menu->popup(modeMenuButton_->mapToGlobal(QPoint(0, -6 - menuSize.height())));
}

void UIController::hudModeChosen(const std::string& title) {
    const auto mode = deliver_mode::fromLabel(title);
    if (!mode) return;
    selectedMode_ = *mode;
    refreshModeButton();
    modePickedThisRecording_ = true;
    rememberModePick(services_, *mode);
    log(LogLevel::info, "HUD mode: " + std::string(label(*mode)) + " (remembered)");
}

void UIController::hudModeInfo() {
    if (session_ && session_->isRecording() && !session_->isCapturePaused()) {
        session_->pauseCapture();
        modePauseActive_ = true;
        showPaused(true, ui_text::PAUSED_FOR_EXPLAINER);
    }
    log(LogLevel::info, "mode explainer opened");
    modeInfoPanel().show(lifetime_.guard([this] {
        if (modePauseActive_) resumeAfterModePause();
    }));
}

void UIController::endModePause() {
    if (modePauseActive_) resumeAfterModePause();
}

void UIController::resumeAfterModePause() {
    modePauseActive_ = false;
    if (session_ && session_->isCapturePaused()) {
        session_->resumeCapture();
        showPaused(false, {});
        log(LogLevel::info, "recording resumed");
    }
}

// ---- State, for tests and demos

std::string UIController::captionText() const {
    return captionField_ ? ui::str(captionField_->text()) : std::string();
}

std::string UIController::elapsedText() const {
    return elapsedField_ ? ui::str(elapsedField_->text()) : std::string();
}

std::string UIController::statusTitle() const {
    return status_ ? status_->title() : std::string(ui_text::IDLE_STATUS);
}

std::string UIController::toggleTitle() const {
    return status_ ? ui::str(status_->toggleItem()->text()) : ui_text::startTitle();
}

bool UIController::hintVisible() const {
    return hintField_ != nullptr && !hintField_->isHidden();
}

} // namespace vak
