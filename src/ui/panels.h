#pragma once

#include "session/session_ui.h"
#include "ui/durad_ave_panel.h"
#include "ui/mode_info_panel.h"
#include "ui/notice_panel.h"
#include "ui/settings_window.h"

#include <functional>
#include <string>

namespace vak {

struct Config;
class MainQueue;
class PanelPlacement;
class SessionLink;
struct UiServices;

// The windows the interface opens besides the pill: the settings window, the mode explainer,
// the producer panel, the choice panel after an ask-mode stop and the note after the first
// dictation. Each is built when first shown. Main thread.
class Panels {
  public:
    Panels(const Config& config, MainQueue& main, const UiServices& services, SessionLink& session);
    Panels(const Panels&) = delete;
    Panels& operator=(const Panels&) = delete;

    SettingsWindow& settings() { return settings_; }
    const SettingsWindow& settings() const { return settings_; }
    ModeInfoPanel& modeInfo() { return modeInfo_; }
    DuradAvePanel& producer() { return producer_; }

    // Summarize / Professional / Keep for an ask-mode transcript; Keep after POLISH_ASK_TIMEOUT.
    void presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                       std::function<void()> onProfessional, std::function<void()> onKeep);
    // The first-run note, saying where the words were transcribed.
    void explainAfterFirstDictation(TranscribedOn where, bool startedWithKey);
    // `message` for a few seconds, floating where the pill was.
    void showNotice(const std::string& message);
    NoticePanel& notice() { return notice_; }

  private:
    const Config& config_;
    MainQueue& main_;
    const std::string firstRunMarker_;
    const std::shared_ptr<PanelPlacement> placement_;
    SettingsWindow settings_;
    ModeInfoPanel modeInfo_;
    DuradAvePanel producer_;
    NoticePanel notice_;
};

} // namespace vak
