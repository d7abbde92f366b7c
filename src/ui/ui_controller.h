#pragma once

#include "foundation/config.h"
#include "session/session_ui.h"
#include "ui/lifetime.h"
#include "ui/ui_services.h"

#include <QRect>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QMenu;
class QScrollArea;

namespace vak {

class ClickThroughButton;
class DuradAvePanel;
class MainQueue;
class ModeInfoPanel;
class PillPanel;
class ResizeEdgeView;
class SettingsWindow;
class StatusItem;
class WaveformView;

// The two permanent pieces of the interface: the status item with its menu, and the recording
// pill that floats above every window while recording (elapsed time, level bars, captions, the
// writing-mode button, Done, cancel and settings). It also owns the panels the session shows
// (choice, first-run note, producer panel) and the settings window. Created once at start-up,
// after the Qt application; everything runs on the main thread and its delayed work on `main`.
class UIController final : public SessionUi {
  public:
    // `config` is the loaded configuration (a copy, so tests can vary it).
    UIController(SessionControl* session, MainQueue& main, Config config, UiServices services);
    ~UIController() override;
    UIController(const UIController&) = delete;
    UIController& operator=(const UIController&) = delete;

    // The session the menu items and buttons drive; may be set after construction (the session
    // controller and the interface refer to each other).
    void setSession(SessionControl* session) { session_ = session; }
    SessionControl* session() const { return session_; }
    const Config& config() const { return config_; }
    const UiServices& services() const { return services_; }

    // Builds the status item and the pill; once.
    void setup();

    // SessionUi
    void recordingStarted() override;
    void recordingStopped() override;
    void setCaption(const std::string& text) override;
    void setLevel(float level) override;
    void setBusy(int delta) override;
    DeliverMode selectedMode() const override { return selectedMode_; }
    bool modePickedThisRecording() const override { return modePickedThisRecording_; }
    void presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                       std::function<void()> onProfessional, std::function<void()> onKeep) override;
    void explainAfterFirstDictation() override;
    void showProducerPanel() override;
    void hideProducerPanel() override;

    // Pauses (with the reason shown as the caption) or resumes the pill's clock and bars.
    void showPaused(bool paused, std::string_view message = "Paused while settings are open.");
    void refreshModeButton();
    void layoutHUD();
    // Every half second: the elapsed time on the pill and in the status title.
    void tick();
    // Makes `mode` the pill's mode without remembering it anywhere (the HUD demo).
    void setSelectedMode(DeliverMode mode);

    // Menu items.
    void menuToggle();
    void menuCancel();
    void menuSettings();
    void menuLog();
    void menuQuit();
    // Pill buttons and the mode menu.
    void hudFinish();
    void hudCancel();
    void hudPickMode();
    void hudModeChosen(const std::string& label);
    void hudModeInfo();
    void modeSettings();
    void endModePause();

    // True while the settings window waits for the new trigger key: a tap of a trigger key
    // then chooses the key and should not also start or stop a dictation.
    bool isCapturingHotkey() const;

    // The shared panels, built on first use.
    SettingsWindow& settingsWindow();
    ModeInfoPanel& modeInfoPanel();
    DuradAvePanel& producerPanel();

    // What is on screen, for tests, demos and screenshots.
    PillPanel* panel() const { return panel_.get(); }
    WaveformView* waveform() const { return waveform_; }
    ClickThroughButton* finishButton() const { return finishButton_; }
    ClickThroughButton* cancelButton() const { return cancelButton_; }
    ClickThroughButton* modeButton() const { return modeMenuButton_; }
    QMenu* modeMenu() const { return modeMenu_.get(); }
    StatusItem* statusItem() const { return status_.get(); }
    std::string captionText() const;
    std::string elapsedText() const;
    std::string statusTitle() const;
    std::string toggleTitle() const;
    bool hintVisible() const;
    std::optional<QRect> customHUDFrame() const { return customHUDFrame_; }
    bool modePauseActive() const { return modePauseActive_; }

  private:
    void buildPanel();
    void refreshIdleOrBusy();
    void setStatusTitle(std::string_view title);
    void rememberFrame();
    void resumeAfterModePause();

    SessionControl* session_;
    MainQueue& main_;
    Config config_;
    UiServices services_;

    std::unique_ptr<StatusItem> status_;
    std::unique_ptr<PillPanel> panel_;
    QScrollArea* captionScroll_ = nullptr;
    QLabel* captionField_ = nullptr;
    QLabel* elapsedField_ = nullptr;
    QLabel* hintField_ = nullptr;
    WaveformView* waveform_ = nullptr;
    ClickThroughButton* modeMenuButton_ = nullptr;
    ClickThroughButton* finishButton_ = nullptr;
    ClickThroughButton* cancelButton_ = nullptr;
    ClickThroughButton* settingsButton_ = nullptr;
    std::array<ResizeEdgeView*, 8> resizeEdges_{};
    std::unique_ptr<QMenu> modeMenu_;

    std::optional<QRect> customHUDFrame_;
    bool suppressFrameTracking_ = false;
    DeliverMode selectedMode_ = DeliverMode::ask;
    bool modePickedThisRecording_ = false;
    QTimer uiTimer_;
    std::optional<double> recordStart_;
    std::optional<double> pausedAt_;
    int busyCount_ = 0;
    bool modePauseActive_ = false;

    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<ModeInfoPanel> modeInfo_;
    std::unique_ptr<DuradAvePanel> producer_;
    Lifetime lifetime_;
};

} // namespace vak
