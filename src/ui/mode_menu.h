#pragma once

#include "foundation/deliver_mode.h"
#include "ui/lifetime.h"

#include <functional>
#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace vak {

class MainQueue;
class ModeInfoPanel;
class SessionLink;
struct UiServices;

// The writing mode picked on the pill and the menu it is picked from. A pick is remembered (it
// survives restarts and counts for the application in front); a recording pauses while the menu,
// or the explainer opened from it, is up. Main thread; the menu's closing is handled on `main`.
class ModeMenu {
  public:
    ModeMenu(MainQueue& main, const UiServices& services, SessionLink& session,
             ModeInfoPanel& explainer, std::function<void(DeliverMode)> onChange);
    ~ModeMenu();
    ModeMenu(const ModeMenu&) = delete;
    ModeMenu& operator=(const ModeMenu&) = delete;

    DeliverMode selected() const { return selected_; }
    // Whether the user picked a mode during the current recording.
    bool pickedThisRecording() const { return pickedThisRecording_; }
    void recordingStarted() { pickedThisRecording_ = false; }
    // The mode configured at start.
    void restore(DeliverMode mode);
    // Makes `mode` the pill's mode without remembering it anywhere (the HUD demo).
    void select(DeliverMode mode);

    // Opens the menu upwards from `anchor`, pausing a running recording.
    void open(QWidget& anchor);
    // A mode item, by the label it carries; unknown labels are ignored.
    void choose(const std::string& label);
    // Opens the explainer; the pause lasts until it is done.
    void explain();
    // Resumes a recording the menu or the explainer paused.
    void endPause();

    QMenu* menu() const { return menu_.get(); }
    bool pauseActive() const { return pauseActive_; }

  private:
    void resumeAfterPause();

    MainQueue& main_;
    const UiServices& services_;
    SessionLink& session_;
    ModeInfoPanel& explainer_;
    std::function<void(DeliverMode)> onChange_;
    std::unique_ptr<QMenu> menu_;
    DeliverMode selected_ = DeliverMode::ask;
    bool pickedThisRecording_ = false;
    bool pauseActive_ = false;
    Lifetime lifetime_;
};

} // namespace vak
