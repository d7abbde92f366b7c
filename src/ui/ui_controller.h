#pragma once

#include "foundation/config.h"
#include "session/session_ui.h"
#include "ui/lifetime.h"
#include "ui/mode_menu.h"
#include "ui/own_keys.h"
#include "ui/panels.h"
#include "ui/recall_menus.h"
#include "ui/recording_pill.h"
#include "ui/session_link.h"
#include "ui/status_item.h"
#include "ui/ui_services.h"

#include <functional>
#include <string>
#include <string_view>

namespace vak {

class MainQueue;

// The interface as the session controller sees it, wired together from its parts: the status
// item with its menu, the recording pill, the mode menu and the panels, all reaching the
// outside through the services they are given. Created once at start-up, after the Qt
// application; everything runs on the main thread and its delayed work on `main`.
class UIController final : public SessionUi {
  public:
    // `config` is the loaded configuration (a copy, so tests can vary it).
    UIController(SessionControl* session, MainQueue& main, Config config, UiServices services);
    ~UIController() override;
    UIController(const UIController&) = delete;
    UIController& operator=(const UIController&) = delete;

    // The session the menu items and buttons drive; may be set after construction (the session
    // controller and the interface refer to each other).
    void setSession(SessionControl* session) { session_.set(session); }

    // Shows the status item and the mode picked before; once.
    void setup();

    // SessionUi
    void recordingStarted() override;
    void recordingStopped() override;
    void setCaption(const std::string& text) override;
    void setLevel(float level) override;
    void setBusy(int delta) override;
    DeliverMode selectedMode() const override { return modeMenu_.selected(); }
    bool modePickedThisRecording() const override { return modeMenu_.pickedThisRecording(); }
    void presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                       std::function<void()> onProfessional, std::function<void()> onKeep) override;
    void explainAfterFirstDictation(TranscribedOn where, bool startedWithKey) override;
    void showNotice(const std::string& message) override;
    void showProducerPanel() override;
    void hideProducerPanel() override;

    // Pauses (with the reason shown as the caption) or resumes the pill's clock and bars; the
    // status item shows the pause.
    void showPaused(bool paused, std::string_view reason = {});
    // Why the trigger key cannot be watched and what the user does about it, shown on the pill
    // at every start of a recording until it is cleared (empty).
    void setTriggerNotice(std::string notice);
    // The trigger key is off and `desktop` takes a shortcut from us: the settings window offers
    // to add one, and the pill's notice says so first.
    void offerShortcut(const std::string& desktop);
    // True while the settings window waits for the new trigger key: a tap of a trigger key
    // then chooses the key and should not also start or stop a dictation.
    bool isCapturingHotkey() const;
    // Whether the global monitor's `event` went to a window or menu of ours (which is not a
    // tap, a chord or an Escape for the recogniser).
    bool ownsKeyEvent(const InputEvent& event) const;

    // What the status menu's Settings… and Quit do (also reached from the command line).
    void openSettings();
    void quit();

    // The parts, for tests, demos and screenshots.
    StatusItem& statusItem() { return status_; }
    RecordingPill& pill() { return pill_; }
    ModeMenu& modeMenu() { return modeMenu_; }
    Panels& panels() { return panels_; }
    const UiServices& services() const { return services_; }
    RecallMenus& recall() { return recall_; }

  private:
    StatusItem::Actions statusActions();
    RecordingPill::Actions pillActions();

    SessionLink session_;
    MainQueue& main_;
    const Config config_;
    const UiServices services_;
    bool setUp_ = false;
    std::string triggerNotice_;

    // After the pill and the status item: the panels, which may show a pause on them, are
    // destroyed first.
    StatusItem status_;
    RecordingPill pill_;
    Panels panels_;
    ModeMenu modeMenu_;
    OwnKeys ownKeys_;
    RecallMenus recall_;
    Lifetime lifetime_;
};

} // namespace vak
