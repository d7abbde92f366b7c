#pragma once

#include "foundation/deliver_mode.h"
#include "ui/lifetime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QObject;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QWidget;

namespace vak {

struct Config;
struct DownloadProgress;
struct DownloadResult;
class MainQueue;
class ModelInstaller;
class SessionLink;
struct UiServices;

// The small preferences window: the decode model, trigger key, microphone, language and whisper
// mode, with buttons that open the configuration file and the learned-words file. Save writes
// the values into the configuration file and restarts the program, which reads its
// configuration only at start. Two controls need no restart: a decode model picked is saved and
// used from the next decode at once, and one not installed is downloaded first, with its
// progress in the window (stopped when the window closes; the part received is kept for the
// next try); "Start at login" writes or removes the user's autostart entry when it is switched,
// and shows whether that entry is on each time the window opens. A recording running while the
// window is open is paused. Built on first show; main thread, the restart and the download's
// reports on `main`.
class SettingsWindow {
  public:
    SettingsWindow(const Config& config, MainQueue& main, const UiServices& services,
                   SessionLink& session);
    ~SettingsWindow();
    SettingsWindow(const SettingsWindow&) = delete;
    SettingsWindow& operator=(const SettingsWindow&) = delete;

    void show();
    void hotkeyClicked();
    void saveClicked();
    void openAdvanced();
    void openDictionary();
    // The model list's entry `index` was picked.
    void modelPicked(int index);
    // "Start at login" switched: the autostart entry is written or removed at once.
    void loginToggled(bool on);
    // Where the trigger key cannot be watched and `desktop` ("GNOME") takes shortcuts from us:
    // the window offers to add one (the button beside the trigger key, in place of its hint).
    void offerShortcut(const std::string& desktop);
    // The offer's button: adds the shortcut and says what happened.
    void shortcutClicked();
    // The window is closing: stops listening for a key and resumes a paused recording.
    void windowWillClose();

    // A key pressed while listening for the trigger key, by its X keysym (the key monitor of
    // the window calls it). True when it became the new trigger key.
    bool keyPressed(std::uint32_t keysym);

    bool isListening() const { return captureMonitor_ != nullptr; }
    bool hotkeyArmed() const { return hotkeyArmed_; }
    std::uint16_t pendingHotkey() const { return pendingHotkey_; }
    QWidget* window() const { return window_.get(); }
    QPushButton* hotkeyButton() const { return hotkeyButton_; }
    QComboBox* micPopup() const { return micPopup_; }
    QComboBox* languagePopup() const { return languagePopup_; }
    QComboBox* talkModePopup() const { return talkModePopup_; }
    QCheckBox* whisperToggle() const { return whisperToggle_; }
    QCheckBox* loginToggle() const { return loginToggle_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QPushButton* shortcutButton() const { return shortcutButton_; }
    QComboBox* modelPopup() const { return modelPopup_; }
    QProgressBar* modelProgress() const { return modelProgress_; }
    QLabel* modelStatus() const { return modelStatus_; }
    // The model being downloaded; none when idle.
    std::optional<std::string> downloadingModel() const;

  private:
    void build();
    // Sizes the window to its content within the screen.
    void fitToScreen();
    void fillMicrophones();
    void fillModels();
    void stopListening();
    void startDownload(const std::string& name);
    void showDownloadProgress(const std::string& name, const DownloadProgress& progress);
    void downloadEnded(const std::string& name, const DownloadResult& result);
    void useModel(const std::string& name);

    const Config& config_;
    MainQueue& main_;
    const UiServices& services_;
    SessionLink& session_;
    std::unique_ptr<QWidget> window_;
    QScrollArea* scroll_ = nullptr;
    QPushButton* hotkeyButton_ = nullptr;
    QComboBox* micPopup_ = nullptr;
    QComboBox* languagePopup_ = nullptr;
    QComboBox* talkModePopup_ = nullptr;
    QCheckBox* whisperToggle_ = nullptr;
    QCheckBox* loginToggle_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* hotkeyHint_ = nullptr;
    QPushButton* shortcutButton_ = nullptr;
    // The desktop that takes a shortcut from us; empty while the trigger key works.
    std::string shortcutDesktop_;
    QComboBox* modelPopup_ = nullptr;
    QProgressBar* modelProgress_ = nullptr;
    QLabel* modelStatus_ = nullptr;
    // The decode model in use: DECODE_MODEL at start, then the last one picked.
    std::string activeModel_;
    std::unique_ptr<ModelInstaller> installer_;
    // Filled and read by Save but not shown: the house style and the default mode are edited in
    // the configuration file ("Advanced settings…").
    QLineEdit* styleField_ = nullptr;
    QComboBox* modePopup_ = nullptr;
    DeliverMode loadedDefaultMode_{};

    bool hotkeyArmed_ = false;
    std::uint16_t pendingHotkey_ = 54;
    std::unique_ptr<QObject> captureMonitor_;
    Lifetime lifetime_;
};

} // namespace vak
