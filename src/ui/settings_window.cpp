#include "ui/settings_window.h"

#include "audio/input_devices.h"
#include "base/files.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/config.h"
#include "foundation/deliver_mode.h"
#include "foundation/languages.h"
#include "foundation/talk_mode.h"
#include "foundation/trigger_keys.h"
#include "platform/file_opener.h"
#include "platform/key_names.h"
#include "platform/service_control.h"
#include "transcribe/model_download.h"
#include "transcribe/model_install.h"
#include "ui/session_link.h"
#include "ui/ui_services.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

namespace vak {

namespace {

// The width the window opens at when its content needs no more; it grows past it for larger
// fonts and, like the height, stays within the screen.
constexpr int kWidth = 520;
constexpr double kRestartDelaySeconds = 0.6;
// The pop-ups whose entries can be long (a model's details, a device's name) do not widen the
// window past this many characters; the list shows them whole.
constexpr int kPopupCharacters = 28;

// The window, telling its owner when it closes and when Return reaches it. Return reaches it
// only when no control took it: the one that picks an entry in an open list never saves (and
// restarts the program) as well, which a shortcut would.
class Window final : public QWidget {
  public:
    Window(std::function<void()> onClose, std::function<void()> onReturn)
        : onClose_(std::move(onClose)), onReturn_(std::move(onReturn)) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (onClose_) onClose_();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && onReturn_) {
            onReturn_();
            return;
        }
        QWidget::keyPressEvent(event);
    }

  private:
    std::function<void()> onClose_;
    std::function<void()> onReturn_;
};

// Watches the application's key presses while the trigger key is being chosen; every event goes
// on to its receiver unchanged.
class HotkeyCapture final : public QObject {
  public:
    explicit HotkeyCapture(std::function<void(std::uint32_t)> onPress)
        : onPress_(std::move(onPress)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat()) {
                // Whatever the handler does (it may remove this monitor), the event goes on.
                const auto onPress = onPress_;
                onPress(key->nativeVirtualKey());
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void(std::uint32_t)> onPress_;
};

QPushButton* pushButton(QWidget* parent, std::string_view title) {
    auto* button = new QPushButton(ui::qstr(title), parent);
    button->setAutoDefault(false);
    return button;
}

// A button with room around its title, as wide as its title needs and more.
QPushButton* roomyButton(QWidget* parent, std::string_view title) {
    QPushButton* button = pushButton(parent, title);
    button->setMinimumWidth(button->sizeHint().width() + ui::spacing::margin);
    return button;
}

// A pop-up whose width does not follow its longest entry.
QComboBox* popup(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(kPopupCharacters);
    return box;
}

// A note that wraps, one line high when empty so a message does not move what is below it.
QLabel* note(QWidget* parent, const QFont& font, const QColor& colour) {
    QLabel* view = ui::label(parent, {}, font, colour);
    view->setWordWrap(true);
    view->setMinimumHeight(QFontMetrics(font).height());
    return view;
}

// The window's content, top to bottom, in a grid of two equal columns.
class Rows {
  public:
    explicit Rows(QWidget* content) : grid_(new QGridLayout(content)) {
        const int m = ui::spacing::margin;
        grid_->setContentsMargins(m, m, m, m);
        grid_->setHorizontalSpacing(ui::spacing::columns);
        grid_->setVerticalSpacing(0); // each gap is its own row, so they can differ
        grid_->setColumnStretch(0, 1);
        grid_->setColumnStretch(1, 1);
    }
    void gap(int pixels) {
        grid_->addItem(new QSpacerItem(0, pixels, QSizePolicy::Minimum, QSizePolicy::Fixed), row_++,
                       0);
    }
    void whole(QWidget* widget) { grid_->addWidget(widget, row_++, 0, 1, 2); }
    void whole(QLayout* layout) { grid_->addLayout(layout, row_++, 0, 1, 2); }
    // `right` may hold several widgets sharing the place, one shown at a time.
    void pair(QWidget* left, std::initializer_list<QWidget*> right) {
        grid_->addWidget(left, row_, 0);
        for (QWidget* widget : right)
            grid_->addWidget(widget, row_, 1, Qt::AlignVCenter);
        ++row_;
    }
    // What is left of the window's height goes here.
    void stretch() { grid_->setRowStretch(row_++, 1); }

  private:
    QGridLayout* grid_;
    int row_ = 0;
};

} // namespace

SettingsWindow::SettingsWindow(const Config& config, MainQueue& main, const UiServices& services,
                               SessionLink& session)
    : config_(config), main_(main), services_(services), session_(session),
      activeModel_(config.decodeModel) {}

SettingsWindow::~SettingsWindow() {
    // A download still running stops here; what it reports afterwards finds no window.
    installer_.reset();
    stopListening();
}

void SettingsWindow::build() {
    window_ = std::make_unique<Window>([this] { windowWillClose(); }, [this] { saveClicked(); });
    window_->setWindowTitle(ui::qstr(ui_text::SETTINGS_WINDOW_TITLE));
    auto* scroll = new QScrollArea(window_.get());
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    auto* content = new QWidget;
    Rows rows(content);

    const QColor text = content->palette().color(QPalette::WindowText);
    const QFont sectionFont = ui::font(13, QFont::DemiBold);
    const auto section = [&](std::string_view title) {
        return ui::label(content, ui::qstr(title), sectionFont, text);
    };
    QColor noteColour = text;
    noteColour.setAlphaF(0.7f);
    QColor hintColour = text;
    hintColour.setAlphaF(0.45f);

    rows.whole(
        ui::label(content, ui::qstr(ui_text::SETTINGS_HEADING), ui::font(20, QFont::Bold), text));
    rows.gap(ui::spacing::group);

    rows.whole(section(ui_text::MODEL_SECTION));
    rows.gap(ui::spacing::title);
    modelPopup_ = popup(content);
    QObject::connect(modelPopup_, &QComboBox::activated, content,
                     [this](int index) { modelPicked(index); });
    rows.whole(modelPopup_);
    rows.gap(ui::spacing::related);
    modelProgress_ = new QProgressBar(content);
    modelProgress_->setTextVisible(false);
    modelProgress_->setFixedHeight(QFontMetrics(ui::font(11)).height() / 2 + 4);
    // Its place is kept while hidden, so a download starting does not move the window's content.
    QSizePolicy keepPlace = modelProgress_->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    modelProgress_->setSizePolicy(keepPlace);
    modelProgress_->hide();
    rows.whole(modelProgress_);
    rows.gap(ui::spacing::title);
    modelStatus_ = note(content, ui::font(11), noteColour);
    rows.whole(modelStatus_);
    installer_ = std::make_unique<ModelInstaller>(services_.paths.home);
    rows.gap(ui::spacing::group);

    rows.whole(section(ui_text::HOTKEY_SECTION));
    rows.gap(ui::spacing::title);
    hotkeyButton_ = pushButton(content, "");
    QObject::connect(hotkeyButton_, &QPushButton::clicked, content, [this] { hotkeyClicked(); });
    hotkeyHint_ = note(content, ui::font(11), hintColour);
    hotkeyHint_->setText(ui::qstr(ui_text::HOTKEY_HINT));
    // The offer of a desktop shortcut takes the hint's place.
    shortcutButton_ = pushButton(content, "");
    QObject::connect(shortcutButton_, &QPushButton::clicked, content,
                     [this] { shortcutClicked(); });
    rows.pair(hotkeyButton_, {hotkeyHint_, shortcutButton_});
    rows.gap(ui::spacing::group);

    rows.whole(section(ui_text::MIC_SECTION));
    rows.gap(ui::spacing::title);
    micPopup_ = popup(content);
    rows.whole(micPopup_);
    rows.gap(ui::spacing::group);

    QLabel* languageTitle = section(ui_text::LANGUAGE_SECTION);
    QLabel* talkModeTitle = section(ui_text::TALK_MODE_SECTION);
    rows.pair(languageTitle, {talkModeTitle});
    rows.gap(ui::spacing::title);
    languagePopup_ = new QComboBox(content);
    for (const Language& language : kLanguages)
        languagePopup_->addItem(ui::qstr(language.name), ui::qstr(language.code));
    talkModePopup_ = new QComboBox(content);
    for (const TalkModeName& row : TALK_MODES)
        talkModePopup_->addItem(ui::qstr(row.label), ui::qstr(row.name));
    rows.pair(languagePopup_, {talkModePopup_});
    rows.gap(ui::spacing::group);

    whisperToggle_ = new QCheckBox(ui::qstr(ui_text::WHISPER_TOGGLE), content);
    rows.whole(whisperToggle_);
    rows.gap(ui::spacing::related);
    loginToggle_ = new QCheckBox(ui::qstr(ui_text::LOGIN_TOGGLE), content);
    QObject::connect(loginToggle_, &QCheckBox::toggled, content,
                     [this](bool on) { loginToggled(on); });
    rows.whole(loginToggle_);
    rows.gap(ui::spacing::related);

    // Between the check boxes and the buttons, so the message never covers them.
    statusLabel_ = note(content, ui::font(11), noteColour);
    rows.whole(statusLabel_);
    rows.stretch();
    rows.gap(ui::spacing::related);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(ui::spacing::related);
    QPushButton* advanced = roomyButton(content, ui_text::ADVANCED_BUTTON);
    QObject::connect(advanced, &QPushButton::clicked, content, [this] { openAdvanced(); });
    QPushButton* dictionary = roomyButton(content, ui_text::DICTIONARY_BUTTON);
    QObject::connect(dictionary, &QPushButton::clicked, content, [this] { openDictionary(); });
    QPushButton* save = roomyButton(content, ui_text::SAVE_BUTTON);
    QObject::connect(save, &QPushButton::clicked, content, [this] { saveClicked(); });
    buttons->addWidget(advanced);
    buttons->addWidget(dictionary);
    buttons->addStretch(1);
    buttons->addWidget(save);
    rows.whole(buttons);

    styleField_ = new QLineEdit(content);
    styleField_->hide();
    modePopup_ = new QComboBox(content);
    modePopup_->hide();
    for (DeliverMode mode : deliver_mode::settingsModes())
        modePopup_->addItem(ui::qstr(modeInfo(mode).settingsTitle));

    scroll->setWidget(content);
    scroll_ = scroll;
}

void SettingsWindow::fitToScreen() {
    QWidget* content = scroll_->widget();
    content->adjustSize();
    // Never narrower than the content (nothing is cut at the side); as tall as it where the
    // screen allows, scrolling the rest.
    const int scroller = scroll_->verticalScrollBar()->sizeHint().width();
    const QRect area = QGuiApplication::primaryScreen() != nullptr
                           ? QGuiApplication::primaryScreen()->availableGeometry()
                           : QRect(0, 0, 1024, 768);
    const int least = std::min(content->minimumSizeHint().width() + scroller, area.width());
    const int width =
        std::clamp(std::max(kWidth, content->sizeHint().width()), least, area.width());
    // As tall as the content's own height or its least, which a wrapping note can put above its
    // height at this width; the scroll area scrolls below either.
    const int height =
        std::min(std::max({content->heightForWidth(width), content->sizeHint().height(),
                           content->minimumSizeHint().height()}),
                 area.height() * 9 / 10);
    window_->setMinimumWidth(least);
    window_->resize(width, height);
}

void SettingsWindow::fillMicrophones() {
    micPopup_->clear();
    micPopup_->addItem(ui::qstr(ui_text::BUILT_IN_MIC));
    for (const InputDevice& device : allInputDevices(*services_.audio)) {
        if (!device.builtIn) micPopup_->addItem(ui::qstr(device.name));
    }
}

void SettingsWindow::fillModels() {
    modelPopup_->clear();
    for (const DecodeModelOption& option :
         decodeModelOptions(services_.paths.home, activeModel_, services_.paths.modelSpeeds))
        modelPopup_->addItem(
            ui::qstr(ui_text::modelItem(
                option.name, engineName(option.engine), option.mebibytes, option.installed,
                option.speed ? std::optional(speedText(*option.speed)) : std::nullopt)),
            ui::qstr(option.name));
    modelPopup_->setCurrentIndex(std::max(modelPopup_->findData(ui::qstr(activeModel_)), 0));
}

void SettingsWindow::show() {
    if (!window_) build();
    if (!installer_->downloading()) {
        if (services_.decodeModelInUse) activeModel_ = services_.decodeModelInUse();
        fillModels();
        modelStatus_->setText(ui::qstr(ui_text::MODEL_HINT));
    }
    pendingHotkey_ = config_.hotkey;
    styleField_->setText(ui::qstr(config_.style));
    hotkeyButton_->setText(ui::qstr(triggerKeyName(pendingHotkey_)));
    whisperToggle_->setChecked(config_.whisperMode);
    {
        // What the entry says now, which is not a switch of the user's.
        const QSignalBlocker quiet(loginToggle_);
        loginToggle_->setChecked(services_.login->enabled());
    }
    talkModePopup_->setCurrentIndex(
        std::max(talkModePopup_->findData(ui::qstr(talkModeName(config_.talkMode))), 0));

    loadedDefaultMode_ = config_.defaultMode;
    const auto modes = deliver_mode::settingsModes();
    const auto mode = std::find(modes.begin(), modes.end(), config_.defaultMode);
    modePopup_->setCurrentIndex(mode == modes.end() ? 0 : static_cast<int>(mode - modes.begin()));

    int language = languagePopup_->findData(ui::qstr(config_.language));
    if (language < 0 && !config_.language.empty()) {
        // A code the list does not name stays what it is rather than turning into another.
        languagePopup_->addItem(ui::qstr(config_.language), ui::qstr(config_.language));
        language = languagePopup_->count() - 1;
    }
    if (language >= 0) languagePopup_->setCurrentIndex(language);

    fillMicrophones();
    int mic = 0;
    if (config_.inputDevice != "builtin") {
        mic = std::max(micPopup_->findText(ui::qstr(config_.inputDevice), Qt::MatchExactly), 0);
    }
    micPopup_->setCurrentIndex(mic);
    statusLabel_->clear();
    shortcutButton_->setText(ui::qstr(ui_text::shortcutButton(config_.shortcutChord)));
    shortcutButton_->setEnabled(true);
    shortcutButton_->setVisible(!shortcutDesktop_.empty());
    hotkeyHint_->setVisible(shortcutDesktop_.empty());

    if (session_.pause(ui_text::PAUSED_FOR_SETTINGS)) {
        log(LogLevel::info, "recording paused while settings are open");
    }

    fitToScreen(); // with the hint or the shortcut offer, whichever shows
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SettingsWindow::hotkeyClicked() {
    if (!hotkeyArmed_) {
        hotkeyArmed_ = true;
        hotkeyButton_->setText(ui::qstr(ui_text::HOTKEY_ARMED));
        return;
    }
    hotkeyButton_->setText(ui::qstr(ui_text::HOTKEY_LISTENING));
    if (captureMonitor_) return;
    captureMonitor_ = std::make_unique<HotkeyCapture>(
        lifetime_.guard([this](std::uint32_t keysym) { keyPressed(keysym); }));
    QCoreApplication::instance()->installEventFilter(captureMonitor_.get());
}

bool SettingsWindow::keyPressed(std::uint32_t keysym) {
    if (!captureMonitor_) return false;
    const auto code =
        services_.triggerCodeForKey ? services_.triggerCodeForKey(keysym) : std::nullopt;
    if (!code) return false; // letters and other keys leave it listening
    pendingHotkey_ = *code;
    hotkeyButton_->setText(ui::qstr(triggerKeyName(*code)));
    hotkeyArmed_ = false;
    // Removed once the key event has been passed on.
    QObject* monitor = captureMonitor_.release();
    QCoreApplication::instance()->removeEventFilter(monitor);
    monitor->deleteLater();
    return true;
}

void SettingsWindow::stopListening() {
    if (!captureMonitor_) return;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(captureMonitor_.get());
    captureMonitor_.reset();
}

void SettingsWindow::saveClicked() {
    if (!window_) return;
    services_.writeConfig(config_key::style, ui::str(styleField_->text()));
    services_.writeConfig(config_key::hotkey, std::to_string(pendingHotkey_));
    services_.writeConfig(config_key::whisperMode, whisperToggle_->isChecked() ? "1" : "0");
    // The default mode is not in the window; one the list cannot show (such as "ask") is
    // written back as it was instead of turning into the list's first entry.
    const auto modes = deliver_mode::settingsModes();
    const int modeIndex =
        std::clamp(modePopup_->currentIndex(), 0, static_cast<int>(modes.size()) - 1);
    const bool listed = std::find(modes.begin(), modes.end(), loadedDefaultMode_) != modes.end();
    services_.writeConfig(config_key::defaultMode,
                          configValue(listed || modeIndex != 0
                                          ? modes[static_cast<std::size_t>(modeIndex)]
                                          : loadedDefaultMode_));
    services_.writeConfig(config_key::language, ui::str(languagePopup_->currentData().toString()));
    services_.writeConfig(config_key::talkMode, ui::str(talkModePopup_->currentData().toString()));
    services_.writeConfig(config_key::inputDevice, micPopup_->currentIndex() <= 0
                                                       ? "builtin"
                                                       : ui::str(micPopup_->currentText()));
    statusLabel_->setText(ui::qstr(ui_text::SAVED_STATUS));
    log(LogLevel::info, "settings saved from the settings window");

    main_.after(
        kRestartDelaySeconds, [alive = lifetime_.token(), service = services_.service, this] {
            if (service->restartService()) return;
            log(LogLevel::warning, "could not restart — the new settings apply at the next start");
            if (Lifetime::isAlive(alive) && statusLabel_ != nullptr) {
                statusLabel_->setText(ui::qstr(ui_text::RESTART_FAILED_STATUS));
            }
        });
}

void SettingsWindow::loginToggled(bool on) {
    std::string problem;
    if (services_.login->set(on, &problem)) {
        statusLabel_->setText(ui::qstr(on ? ui_text::LOGIN_ON_STATUS : ui_text::LOGIN_OFF_STATUS));
        log(LogLevel::info,
            std::string(on ? "start at login on: wrote " : "start at login off: removed ") +
                services_.login->where());
        return;
    }
    log(LogLevel::warning, services_.login->where() + " " + problem);
    statusLabel_->setText(ui::qstr(std::string(ui_text::LOGIN_FAILED_STATUS) + problem));
    const QSignalBlocker quiet(loginToggle_);
    loginToggle_->setChecked(services_.login->enabled());
}

void SettingsWindow::offerShortcut(const std::string& desktop) {
    shortcutDesktop_ = desktop;
}

void SettingsWindow::shortcutClicked() {
    if (!window_ || !services_.addToggleShortcut) return;
    const ShortcutOffer offer = services_.addToggleShortcut();
    statusLabel_->setText(ui::qstr(offer.text));
    // Once bound there is nothing more to add.
    shortcutButton_->setEnabled(!offer.bound);
}

void SettingsWindow::openAdvanced() {
    services_.files->open(services_.paths.configFile);
}

void SettingsWindow::openDictionary() {
    const std::string& path = services_.paths.learnedWords;
    if (!pathExists(path)) writeFileAtomic(path, ui_text::DICTIONARY_HEADER, 0600);
    services_.files->open(path);
}

std::optional<std::string> SettingsWindow::downloadingModel() const {
    return installer_ ? installer_->downloading() : std::nullopt;
}

void SettingsWindow::modelPicked(int index) {
    if (!window_ || index < 0 || index >= modelPopup_->count()) return;
    modelPopup_->setCurrentIndex(index); // as a click leaves it
    const std::string name = ui::str(modelPopup_->itemData(index).toString());
    if (installer_->downloading() == name) return;
    for (const DecodeModelOption& option :
         decodeModelOptions(services_.paths.home, activeModel_, services_.paths.modelSpeeds)) {
        if (option.name != name) continue;
        if (option.installed) {
            // A download of another one is no longer wanted; what it received is kept.
            installer_->cancel();
            modelProgress_->hide();
            if (name != activeModel_) useModel(name);
            modelStatus_->setText(ui::qstr(ui_text::modelInUse(name)));
        } else if (!option.mebibytes) {
            modelStatus_->setText(ui::qstr(ui_text::modelNotDownloadable(name)));
        } else {
            startDownload(name);
        }
        return;
    }
}

void SettingsWindow::startDownload(const std::string& name) {
    // Made here, on the main thread: the download's threads only post them.
    auto onProgress =
        lifetime_.guard([this, name](const DownloadProgress& p) { showDownloadProgress(name, p); });
    auto onDone =
        lifetime_.guard([this, name](const DownloadResult& r) { downloadEnded(name, r); });
    MainQueue* main = &main_;
    installer_->start(
        name,
        [main, onProgress](const DownloadProgress& p) {
            main->post([onProgress, p] { onProgress(p); });
        },
        [main, onDone](const DownloadResult& r) { main->post([onDone, r] { onDone(r); }); });
    modelProgress_->setRange(0, 1000);
    modelProgress_->setValue(0);
    modelProgress_->show();
    modelStatus_->setText(ui::qstr(ui_text::modelDownloading(name, "starting…")));
    log(LogLevel::info, "downloading the model " + name + " from the settings window");
}

void SettingsWindow::showDownloadProgress(const std::string& name,
                                          const DownloadProgress& progress) {
    if (installer_->downloading() != name) return; // a report that came after its end
    if (progress.total && *progress.total > 0) {
        modelProgress_->setRange(0, 1000);
        modelProgress_->setValue(static_cast<int>(
            std::clamp<std::int64_t>(progress.bytes * 1000 / *progress.total, 0, 1000)));
    } else {
        modelProgress_->setRange(0, 0); // a size not given: a busy bar
    }
    modelStatus_->setText(ui::qstr(ui_text::modelDownloading(name, progressText(progress))));
}

void SettingsWindow::downloadEnded(const std::string& name, const DownloadResult& result) {
    // Stopped for another pick (which reports for itself) or by closing the window.
    if (installer_->downloading()) return;
    modelProgress_->hide();
    if (result.outcome == DownloadResult::Outcome::Cancelled) return;
    const std::string outcome = downloadOutcomeText(name, result);
    if (result.ok()) {
        useModel(name);
        modelStatus_->setText(ui::qstr(outcome + " " + ui_text::modelInUse(name)));
        return;
    }
    log(LogLevel::warning, "model download from the settings window: " + outcome);
    fillModels(); // back to the model in use
    modelStatus_->setText(ui::qstr(outcome));
}

void SettingsWindow::useModel(const std::string& name) {
    services_.writeConfig(config_key::decodeModel, name);
    activeModel_ = name;
    if (services_.useDecodeModel) services_.useDecodeModel(name);
    log(LogLevel::info, "decode model " + name + " picked in the settings window");
    fillModels();
}

void SettingsWindow::windowWillClose() {
    if (const auto name = installer_ ? installer_->downloading() : std::nullopt) {
        log(LogLevel::info, "the download of " + *name +
                                " stops with the settings window (the part received is kept)");
        installer_->cancel();
    }
    stopListening();
    hotkeyArmed_ = false;
    if (session_.resume()) log(LogLevel::info, "recording resumed after settings closed");
}

} // namespace vak
