#pragma once

#include "base/timer_handle.h"
#include "ui/lifetime.h"

#include <memory>
#include <string>

class QLabel;

namespace vak {

class FloatingPanel;
class PanelPlacement;
class MainQueue;

// A short message floating at the bottom of the screen for a few seconds, where the pill was,
// when a dictation ended somewhere other than in a window (its words wait on the clipboard).
// Shown without taking the focus; a newer message replaces the one shown. Main thread.
class NoticePanel {
  public:
    NoticePanel(MainQueue& main, std::shared_ptr<PanelPlacement> placement);
    ~NoticePanel();
    NoticePanel(const NoticePanel&) = delete;
    NoticePanel& operator=(const NoticePanel&) = delete;

    void show(const std::string& message, double seconds);

    bool isVisible() const;
    std::string text() const;
    FloatingPanel* panel() const { return panel_.get(); }

  private:
    MainQueue& main_;
    std::shared_ptr<PanelPlacement> placement_;
    std::unique_ptr<FloatingPanel> panel_;
    QLabel* label_ = nullptr;
    TimerHandle hideLater_;
    Lifetime lifetime_;
};

} // namespace vak
