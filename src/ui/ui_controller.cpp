#include "ui/ui_controller.h"

#include "base/files.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "platform/file_opener.h"
#include "platform/service_control.h"
#include "ui/click_through_button.h"
#include "ui/ui_texts.h"

namespace vak {

namespace {

constexpr double kQuitDelaySeconds = 2.0;

} // namespace

UIController::UIController(SessionControl* session, MainQueue& main, Config config,
                           UiServices services)
    : session_([this](bool paused, std::string_view reason) { showPaused(paused, reason); }),
      main_(main), config_(std::move(config)), services_(std::move(services)),
      status_(statusActions(), config_.hotkey),
      pill_(main, services_.now, pillActions(), config_.hotkey, services_.placement),
      panels_(config_, main, services_, session_),
      modeMenu_(main, services_, session_, panels_.modeInfo(),
                [this](DeliverMode mode) { pill_.showMode(mode); }),
      recall_(config_, main, services_,
              {.busy = [this](int delta) { status_.setBusy(delta); },
               .notify = [this](const std::string& message) { panels_.showNotice(message); }}) {
    session_.set(session);
    status_.addSection({recall_.recent(), recall_.failed()}, [this] { recall_.refresh(); });
}

UIController::~UIController() = default;

void UIController::setup() {
    if (setUp_) return;
    setUp_ = true;
    if (!status_.show()) {
        log(LogLevel::warning,
            "no system tray on this desktop — the status menu is not shown (Quit with "
            "`systemctl --user stop vak-dictate`)");
    }
    modeMenu_.restore(config_.selectedMode);
    pill_.layout();
}

// ---- What the session shows

void UIController::recordingStarted() {
    setup();
    modeMenu_.recordingStarted();
    status_.recordingStarted();
    const bool captions = config_.liveCaptions && isRegularFile(config_.captionModel);
    if (triggerNotice_.empty()) {
        pill_.show(captions ? ui_text::LISTENING : ui_text::RECORDING);
    } else {
        pill_.show(std::string(ui_text::DISARMED_CAPTION) + triggerNotice_);
    }
}

void UIController::setTriggerNotice(std::string notice) {
    triggerNotice_ = std::move(notice);
    pill_.setHint(triggerNotice_.empty() ? std::string_view() : ui_text::DISARMED_HINT);
}

void UIController::offerShortcut(const std::string& desktop) {
    panels_.settings().offerShortcut(desktop);
    if (!triggerNotice_.empty() && !triggerNotice_.starts_with(ui_text::SHORTCUT_NOTICE))
        triggerNotice_ = std::string(ui_text::SHORTCUT_NOTICE) + triggerNotice_;
}

void UIController::recordingStopped() {
    pill_.hide();
    status_.recordingStopped();
}

void UIController::setCaption(const std::string& text) {
    pill_.setCaption(text);
}

void UIController::setLevel(float level) {
    pill_.setLevel(level);
}

void UIController::setBusy(int delta) {
    status_.setBusy(delta);
}

void UIController::showPaused(bool paused, std::string_view reason) {
    if (paused) {
        pill_.pause(reason);
        status_.showPaused();
    } else {
        pill_.resume();
    }
}

void UIController::presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                                 std::function<void()> onProfessional,
                                 std::function<void()> onKeep) {
    panels_.presentChoice(transcript, std::move(onSummarize), std::move(onProfessional),
                          std::move(onKeep));
}

void UIController::explainAfterFirstDictation(TranscribedOn where, bool startedWithKey) {
    panels_.explainAfterFirstDictation(where, startedWithKey);
}

void UIController::showNotice(const std::string& message) {
    panels_.showNotice(message);
}

void UIController::showProducerPanel() {
    panels_.producer().show();
}

void UIController::hideProducerPanel() {
    panels_.producer().hide();
}

bool UIController::isCapturingHotkey() const {
    return panels_.settings().isListening();
}

bool UIController::ownsKeyEvent(const InputEvent& event) const {
    return isCapturingHotkey() || ownKeys_.ours(event);
}

// ---- The menu items and the pill's buttons

StatusItem::Actions UIController::statusActions() {
    return {.toggle =
                [this] {
                    if (session_.get() != nullptr) session_.get()->toggle();
                },
            .cancel =
                [this] {
                    if (session_.get() != nullptr) session_.get()->cancelRecording();
                },
            .settings = [this] { openSettings(); },
            .openLog = [this] { services_.files->open(services_.paths.log); },
            .quit = [this] { quit(); }};
}

RecordingPill::Actions UIController::pillActions() {
    return {.finish =
                [this] {
                    log(LogLevel::info, "finish pressed on HUD — push to live");
                    if (session_.isRecording()) session_.get()->finishInstantly();
                },
            .cancel =
                [this] {
                    log(LogLevel::info, "cancel pressed on HUD");
                    if (session_.isRecording()) session_.get()->cancelRecording();
                },
            .pickMode = [this] { modeMenu_.open(*pill_.modeButton()); },
            .settings = [this] { openSettings(); },
            .elapsed = [this](std::string_view elapsed) { status_.showElapsed(elapsed); }};
}

void UIController::openSettings() {
    panels_.settings().show();
}

void UIController::quit() {
    // Taken out of the service first, so nothing starts the program again before the next
    // login; the exit follows whether or not that worked.
    services_.service->stopService();
    main_.after(kQuitDelaySeconds, lifetime_.guard([this] { services_.exit(0); }));
}

} // namespace vak
