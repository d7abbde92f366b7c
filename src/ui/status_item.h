#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The status item in the panel's tray: its title tells the state (🎙 idle, ⏳ busy, 🔴 and the
// time while recording, ⏸ paused) through its icon and tooltip, and its menu starts and stops
// dictation, cancels, offers what can be got back (a section of submenus), opens the settings
// and the log, and quits. A left click on the icon starts or stops dictation too. Main thread.
class StatusItem {
  public:
    struct Actions {
        std::function<void()> toggle;
        std::function<void()> cancel;
        std::function<void()> settings;
        std::function<void()> openLog;
        std::function<void()> quit;
    };

    // `hotkey` is named in the start and stop items.
    StatusItem(Actions actions, std::uint16_t hotkey);
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    // Shows the tray icon where the desktop has a tray; false when it has none.
    bool show();

    // While recording the title shows the elapsed time, or ⏸ during a pause; afterwards ⏳ as
    // long as background jobs run.
    void recordingStarted();
    void showElapsed(std::string_view elapsed);
    void showPaused();
    void recordingStopped();
    // Background jobs in flight: count += delta, never below 0.
    void setBusy(int delta);

    // Puts `submenus` in a section of their own after the recording items; `onOpen` runs each
    // time the menu is about to show.
    void addSection(const std::vector<QMenu*>& submenus, std::function<void()> onOpen);

    const std::string& title() const { return title_; }
    std::string toggleTitle() const;
    QMenu& menu() { return menu_; }
    // What the tray reports when the icon is clicked (for tests).
    void activate(QSystemTrayIcon::ActivationReason reason) { emit tray_.activated(reason); }

  private:
    void setTitle(std::string_view title);
    void showIdleOrBusy();

    QMenu menu_;
    QSystemTrayIcon tray_;
    QAction* toggle_ = nullptr;
    QAction* settingsSeparator_ = nullptr;
    std::uint16_t hotkey_ = 0;
    std::string title_;
    int iconKind_ = -1;
    bool recording_ = false;
    int busyCount_ = 0;
};

} // namespace vak
