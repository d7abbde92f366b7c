// The pill, the panels and the settings window on Qt's offscreen platform: what they show, what
// they write and what they ask of the session.
#include "platform/fake/fake_audio_backend.h"
#include "platform/fake/fake_desktop.h"
#include "platform/linux/key_translation.h"
#include "platform/linux/xdg_autostart.h"
#include "platform/panel_placement.h"
#include "platform/platform_services.h"
#include "session/mode_memory.h"
#include "support/manual_main_queue.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "transcribe/decode_settings.h"
#include "transcribe/model_speed.h"
#include "ui/choice_panel.h"
#include "ui/click_through_button.h"
#include "ui/pill_layout.h"
#include "ui_fixture.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

class Interface : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        test::qtApplication();
        frontmost->id = "org.example.mail";
        audio->setDevices({AudioDeviceInfo{1, "pci-0", "Laptop Mic", true, 1},
                           AudioDeviceInfo{2, "usb-1", "Webcam Mic", false, 1}});
        installAudioBackend(audio);
        writeFixture(processValues().CONFIG_PATH, defaultConfigText(processValues().HOME));
        removeFile(processValues().file(UserFile::ModeUsage));
        config = Config::defaults(processValues().HOME);
    }
    void TearDown() override {
        if (auto open = ChoicePanel::current()) open->resolve("keep");
    }

    // The real configuration file and mode memory; a pretend desktop, service and clock.
    std::unique_ptr<UIController> controller(MainQueue* main = nullptr) {
        UiServices services =
            UiServices::from(processValues(), PlatformServices::installed(), DecodeMemory::fresh());
        services.frontmost = frontmost;
        services.service = service;
        services.exit = [this](int code) { exitCode = code; };
        services.now = [this] { return clock; };
        services.useDecodeModel = [this](const std::string& name) {
            usedModels.push_back(name);
            modelInUse = name;
        };
        services.decodeModelInUse = [this] { return modelInUse; };
        services.triggerCodeForKey = triggerCodeForKeysym; // Qt's native keys here: keysyms
        return std::make_unique<UIController>(&session, main != nullptr ? *main : queue, config,
                                              std::move(services));
    }
    std::string configText() const { return readFixture(processValues().CONFIG_PATH); }
    bool configHas(const std::string& line) const {
        return ("\n" + configText() + "\n").find("\n" + line + "\n") != std::string::npos;
    }

    test::ManualMainQueue queue;
    std::shared_ptr<FakeFrontmostApp> frontmost = std::make_shared<FakeFrontmostApp>();
    std::shared_ptr<FakeServiceControl> service = std::make_shared<FakeServiceControl>();
    std::shared_ptr<FakeAudioBackend> audio = std::make_shared<FakeAudioBackend>();
    test::FakeSession session;
    Config config;
    double clock = 100;
    std::optional<int> exitCode;
    std::vector<std::string> usedModels;
    std::string modelInUse = "large-v3-turbo-q5_0";
};

// The status item's title follows the state and its menu and the tray icon reach the session;
// the elapsed time leaves out a pause; quit stops the service and then the program.
TEST_F(Interface, TheStatusItemFollowsTheStateAndTheElapsedTimeLeavesOutAPause) {
    config.hotkey = 62;
    auto ui = controller();
    StatusItem& status = ui->statusItem();
    RecordingPill& pill = ui->pill();
    ui->setup();
    EXPECT_EQ(status.toggleTitle(), "Start Dictation (Right Control)");
    ui->setBusy(1);
    EXPECT_EQ(status.title(), "⏳");
    ui->setBusy(-3);
    EXPECT_EQ(status.title(), "🎙");
    ui->setBusy(1); // the count stopped at zero
    session.recording = true;
    ui->recordingStarted();
    clock += 185;
    pill.tick();
    EXPECT_EQ(status.title(), "🔴 3:05");
    ui->showPaused(true, "Paused while settings are open.");
    EXPECT_EQ(status.title(), "⏸");
    EXPECT_FALSE(pill.waveform()->isRunning());
    clock += 10;
    ui->showPaused(false);
    EXPECT_TRUE(pill.waveform()->isRunning());
    clock += 1;
    pill.tick();
    EXPECT_EQ(status.title(), "🔴 3:06");
    session.recording = false;
    ui->recordingStopped();
    EXPECT_FALSE(pill.panel()->isVisible());
    EXPECT_EQ(status.title(), "⏳"); // one job still running
    // The first-run note names no key when none started the dictation.
    ui->explainAfterFirstDictation(TranscribedOn::ThisComputer, false);
    queue.advance(5);
    QMessageBox* note = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) note = box;
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->informativeText().startsWith("You started a recording, said a sentence"));
    note->close();

    session.recording = true;
    session.calls.clear();
    const QList<QAction*> menu = status.menu().actions();
    ASSERT_EQ(menu.size(), 9);
    menu[0]->trigger();
    menu[1]->trigger();
    status.activate(QSystemTrayIcon::Trigger);
    status.activate(QSystemTrayIcon::Context); // only opens the menu
    EXPECT_EQ(session.calls, (std::vector<std::string>{"toggle", "cancel", "toggle"}));
    menu[8]->trigger();
    EXPECT_EQ(service->stops, 1);
    queue.advance(1.9);
    EXPECT_FALSE(exitCode);
    queue.advance(0.2);
    EXPECT_EQ(exitCode, 0);
}

// A window system that knows the pill's window only from its third look on (sway maps it late).
class LatePlacement final : public PanelPlacement {
  public:
    void prepare(std::string_view title) override { prepared.emplace_back(title); }
    bool place(std::string_view, int x, int y) override {
        asked.emplace_back(x, y);
        return asked.size() >= 3;
    }
    std::vector<std::string> prepared;
    std::vector<std::pair<int, int>> asked;
};

// The pill says the trigger key is off, wrapped across its caption line from its first showing,
// and asks to be placed until the window system has it.
TEST_F(Interface, ThePillSaysTheTriggerKeyIsOffAndAsksToBePlacedUntilItIs) {
    auto placement = std::make_shared<LatePlacement>();
    installPanelPlacement(placement);
    auto ui = controller();
    RecordingPill& pill = ui->pill();
    ui->setTriggerNotice("no keyboard under /dev/input");
    session.recording = true;
    ui->recordingStarted();
    EXPECT_EQ(pill.captionText(), "Trigger key off — no keyboard under /dev/input");
    int captions = 0;
    for (const QLabel* label : pill.panel()->findChildren<QLabel*>()) {
        if (label->text().toStdString() != pill.captionText()) continue;
        ++captions;
        EXPECT_GT(label->width(), pill::layout(pill::kWidth, pill::kHeight).caption.width() - 12);
    }
    EXPECT_EQ(captions, 1);
    EXPECT_EQ(placement->prepared, std::vector<std::string>{"vak-dictate pill"});
    queue.advance(2);
    installPanelPlacement(nullptr);
    const QRect start = pill.panel()->geometry();
    EXPECT_EQ(placement->asked, (std::vector<std::pair<int, int>>(3, {start.x(), start.y()})));
}

// A pick is written and remembered for the application, Ask only written; a new recording
// starts unpicked.
TEST_F(Interface, PickingAModeWritesItAndRemembersItForTheApplicationUnlessItIsAsk) {
    auto ui = controller();
    ui->setup();
    ui->modeMenu().choose("Normal");
    EXPECT_TRUE(configHas("SELECTED_MODE=normal"));
    EXPECT_EQ(readFixture(processValues().file(UserFile::ModeUsage)), "org.example.mail\tnormal\n");
    EXPECT_TRUE(ui->modePickedThisRecording());
    ui->modeMenu().choose("Ask");
    EXPECT_TRUE(configHas("SELECTED_MODE=ask"));
    EXPECT_EQ(readFixture(processValues().file(UserFile::ModeUsage)), "org.example.mail\tnormal\n");

    ui->recordingStarted();
    EXPECT_FALSE(ui->modePickedThisRecording());
    ui->pill().modeButton()->click();
    EXPECT_FALSE(session.paused); // nothing to pause when not recording
}

// A newer transcript keeps the open one as spoken, an unanswered one is kept when its time is up,
// and clicks after either do nothing; an answered one runs its choice once.
TEST_F(Interface, AChoiceIsKeptAsSpokenWhenSupersededOrUnanswered) {
    std::vector<std::string> ran;
    const auto show = [&](const std::string& name, const std::string& text) {
        return ChoicePanel::show(
            queue, text, [&ran, name] { ran.push_back(name + ":S"); },
            [&ran, name] { ran.push_back(name + ":P"); },
            [&ran, name] { ran.push_back(name + ":K"); }, 30, panelPlacement());
    };
    auto first = show("first", "first words");
    const std::string transcript = "one two  three " + std::string(185, 'x');
    auto second = show("second", transcript);
    EXPECT_EQ(ran, std::vector<std::string>{"first:K"});
    EXPECT_EQ(second->headerText(), "Transcript ready · 4 words");
    queue.advance(29.9);
    EXPECT_EQ(ran.size(), 1u);
    queue.advance(0.2);
    EXPECT_EQ(ran, (std::vector<std::string>{"first:K", "second:K"}));
    EXPECT_EQ(ChoicePanel::current(), nullptr);
    first->summarizeClicked();
    second->professionalClicked();
    show("third", "third words")->professionalClicked();
    queue.advance(60);
    EXPECT_EQ(ran, (std::vector<std::string>{"first:K", "second:K", "third:P"}));
}

// An open window pauses a recording; the trigger key is taken after two clicks, from a modifier;
// Return in an open list only picks its entry, elsewhere it saves (keys the file lacked at its
// end, in order) and restarts a moment later; what could not be done is said.
TEST_F(Interface, TheSettingsWindowTakesAModifierSavesOnReturnAndSaysWhatFailed) {
    config.inputDevice = "USB Headset"; // unplugged since
    config.language = "de";
    config.defaultMode = DeliverMode::ask; // kept, though the list lacks it
    config.style = "Short sentences.";
    config.talkMode = TalkMode::Hold;
    auto ui = controller();
    session.recording = true;
    ui->recordingStarted();
    SettingsWindow& settings = ui->panels().settings();
    settings.show();
    EXPECT_TRUE(session.paused);
    settings.hotkeyClicked();
    EXPECT_FALSE(ui->isCapturingHotkey());
    settings.hotkeyClicked();
    ASSERT_TRUE(ui->isCapturingHotkey());
    const auto press = [&](QWidget* to, Qt::Key key, std::uint32_t keysym) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, 0, keysym, 0);
        QCoreApplication::sendEvent(to, &event);
    };
    press(settings.hotkeyButton(), Qt::Key_A, 0x61);
    press(settings.hotkeyButton(), Qt::Key_CapsLock, 0xffe5); // cannot be a trigger
    EXPECT_TRUE(ui->isCapturingHotkey());
    press(settings.hotkeyButton(), Qt::Key_AltGr, 0xffea); // Right Alt
    EXPECT_FALSE(ui->isCapturingHotkey());
    press(settings.hotkeyButton(), Qt::Key_Shift, 0xffe1); // no longer listening

    settings.talkModePopup()->setCurrentIndex(1);
    settings.languagePopup()->showPopup();
    press(settings.languagePopup()->view(), Qt::Key_Return, 0);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(settings.statusLabel()->text().isEmpty());
    service->succeeds = false;
    press(settings.whisperToggle(), Qt::Key_Return, 0);
    for (const char* line : {"LANGUAGE=de", "INPUT_DEVICE=builtin", "DEFAULT_MODE=ask"})
        EXPECT_TRUE(configHas(line)) << line;
    EXPECT_TRUE(configText().ends_with("\nSTYLE=Short sentences.\nHOTKEY=61\nTALK_MODE=tap"));
    queue.advance(0.55);
    EXPECT_EQ(service->restarts, 0);
    queue.advance(0.1);
    EXPECT_EQ(service->restarts, 1);
    EXPECT_EQ(settings.statusLabel()->text().toStdString(), "Saved. Restart Brindle to apply.");

    settings.window()->close();
    EXPECT_FALSE(session.paused);
    const std::string entry = autostartEntryPath(processValues().HOME, nullptr);
    makeDirectories(entry); // in the entry's place: it cannot be written
    settings.show();
    settings.loginToggle()->click();
    EXPECT_FALSE(settings.loginToggle()->isChecked());
    EXPECT_TRUE(settings.statusLabel()->text().startsWith("Could not change the login start: "));
    ::rmdir(entry.c_str());
    settings.window()->close();
}

// Whatever the controls' font, whichever of the hint or the shortcut offer is shown and however
// long a device's name, nothing in the settings window is cut or covers another (a download's
// progress bar once covered Start at login), and the window stays within the screen.
TEST_F(Interface, TheSettingsWindowFitsItsTextsAndTheScreenAtAnyFontSize) {
    struct Case {
        int pixels; // the controls' font; 0 leaves the usual one
        std::string microphone;
        bool offer;
    };
    const std::string longName =
        "USB Audio Device Conference Speakerphone with Echo Cancelling, analogue stereo input";
    const Case cases[] = {{0, "Webcam Mic", false}, {26, "Webcam Mic", true}, {0, longName, true}};
    const QFont usual = QApplication::font();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const Case& row : cases) {
        SCOPED_TRACE(row.microphone + " at " + std::to_string(row.pixels) + " px");
        QFont font = usual;
        if (row.pixels > 0) font.setPixelSize(row.pixels);
        QApplication::setFont(font);
        audio->setDevices({AudioDeviceInfo{2, "usb-1", row.microphone, false, 1}});
        config.inputDevice = row.microphone;
        auto ui = controller();
        if (row.offer) ui->offerShortcut("GNOME");
        SettingsWindow& settings = ui->panels().settings();
        settings.show();
        settings.modelProgress()->show(); // as while a model downloads
        QCoreApplication::processEvents();
        EXPECT_LE(settings.window()->width(), screen.width());
        EXPECT_LE(settings.window()->height(), screen.height());
        QWidget* content = settings.micPopup()->parentWidget();
        const auto* scroll = qobject_cast<QScrollArea*>(content->parentWidget()->parentWidget());
        ASSERT_NE(scroll, nullptr);
        // What the window cannot show can be scrolled to.
        EXPECT_TRUE(content->width() <= scroll->viewport()->width() ||
                    scroll->horizontalScrollBar()->isVisibleTo(scroll));
        EXPECT_TRUE(content->height() <= scroll->viewport()->height() ||
                    scroll->verticalScrollBar()->isVisibleTo(scroll));
        std::vector<QWidget*> shown;
        for (QWidget* widget : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (widget->isVisibleTo(content)) shown.push_back(widget);
        EXPECT_EQ(std::count(shown.begin(), shown.end(), settings.modelProgress()), 1);
        EXPECT_EQ(std::count(shown.begin(), shown.end(), settings.loginToggle()), 1);
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const QWidget* widget = shown[i];
            SCOPED_TRACE(std::string(widget->metaObject()->className()) + " #" + std::to_string(i));
            EXPECT_TRUE(content->rect().contains(widget->geometry()));
            QSize need;
            if (const auto* label = qobject_cast<const QLabel*>(widget))
                need = label->wordWrap() ? QSize(0, label->heightForWidth(label->width()))
                                         : label->sizeHint();
            else if (qobject_cast<const QAbstractButton*>(widget))
                need = widget->sizeHint(); // the whole title
            else if (qobject_cast<const QComboBox*>(widget))
                need = widget->minimumSizeHint();
            EXPECT_GE(widget->width(), need.width());
            EXPECT_GE(widget->height(), need.height());
            for (std::size_t j = i + 1; j < shown.size(); ++j)
                EXPECT_FALSE(widget->geometry().intersects(shown[j]->geometry())) << j;
        }
        settings.window()->close();
    }
    QApplication::setFont(usual);
}

TEST_F(Interface, AModelPickedIsUsedAtOnceAndOneNotInstalledIsDownloadedFirst) {
    test::ModelHost host(-1, 400000); // slow: every download takes a few seconds
    const std::string sums = processValues().HOME + "/model-sums";
    writeFixture(sums, host.publish("ggml-base.en.bin", 800000) + "  ggml-base.en.bin\n");
    host.publish("ggml-medium.en.bin", 4000000);
    setenv("VAK_MODEL_BASE_URL", host.url().c_str(), 1);
    setenv("VAK_MODEL_SHA1SUMS", sums.c_str(), 1);
    makeDirectories(modelsDirectory(processValues().HOME));
    writeFixture(modelPath(processValues().HOME, "tiny.en"), "lmgg");

    QtMainQueue main; // the download reports from its own thread
    auto ui = controller(&main);
    SettingsWindow& settings = ui->panels().settings();
    settings.show();
    QComboBox* list = settings.modelPopup();
    const auto row = [&](const char* name) { return list->findData(QString(name)); };

    settings.modelPicked(row("tiny.en")); // installed: used at once
    EXPECT_EQ(usedModels, std::vector<std::string>{"tiny.en"});
    settings.modelPicked(row("base.en"));
    ASSERT_TRUE(test::waitUntil([&] { return settings.modelProgress()->value() > 0; }));
    EXPECT_EQ(usedModels.size(), 1u); // not before it is in place
    ASSERT_TRUE(test::waitUntil([&] { return !settings.modelProgress()->isVisible(); }));
    EXPECT_EQ(usedModels, (std::vector<std::string>{"tiny.en", "base.en"}));
    EXPECT_TRUE(configHas("DECODE_MODEL=base.en"));

    settings.modelPicked(row("medium.en"));
    settings.window()->close(); // stops the download
    ASSERT_TRUE(test::waitUntil([&] { return !settings.downloadingModel(); }, 5));
    EXPECT_TRUE(configHas("DECODE_MODEL=base.en"));
    // The window opens on the model the daemon decodes with now, which another start may change.
    modelInUse = "tiny.en";
    settings.show();
    EXPECT_TRUE(list->currentText().startsWith("tiny.en · "));
    unsetenv("VAK_MODEL_BASE_URL");
    unsetenv("VAK_MODEL_SHA1SUMS");
}

TEST(Demos, TheHudDemosLengthIsAPositiveNumberOrTheDefault) {
    EXPECT_EQ(hudDemoSeconds("2.5"), 2.5);
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "soon", "-1", "inf"})
        EXPECT_EQ(hudDemoSeconds(unusable), hudDemoSeconds(nullptr)) << unusable;
}

} // namespace
} // namespace vak
