// The pill, the panels and the settings window on Qt's offscreen platform: what they show, what
// they write and what they ask of the session.
#include "base/files.h"
#include "foundation/process_values.h"
#include "platform/fake/fake_audio_backend.h"
#include "platform/fake/fake_desktop.h"
#include "platform/linux/key_translation.h"
#include "platform/linux/xdg_autostart.h"
#include "platform/panel_placement.h"
#include "platform/platform_services.h"
#include "session/mode_memory.h"
#include "support/manual_main_queue.h"
#include "support/qt_desktop.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "transcribe/decode_settings.h"
#include "transcribe/model_speed.h"
#include "ui/choice_panel.h"
#include "ui/click_through_button.h"
#include "ui/demos.h"
#include "ui/first_run_note.h"
#include "ui/mode_info_panel.h"
#include "ui/pill_layout.h"
#include "ui/pill_panel.h"
#include "ui/qt_main_queue.h"
#include "ui/recording_pill.h"
#include "ui/resize_edge_view.h"
#include "ui/settings_window.h"
#include "ui/status_item.h"
#include "ui/ui_controller.h"
#include "ui/waveform_view.h"
#include "ui_fixture.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::FakeSession;
using test::readFixture;
using test::writeFixture;

struct Desktop {
    std::shared_ptr<FakeFrontmostApp> frontmost = std::make_shared<FakeFrontmostApp>();
    std::shared_ptr<FakeServiceControl> service = std::make_shared<FakeServiceControl>();
    std::shared_ptr<FakeFileOpener> opener = std::make_shared<FakeFileOpener>();
    std::shared_ptr<FakeAudioBackend> audio = std::make_shared<FakeAudioBackend>();
};

class Interface : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        test::qtApplication();
        desktop.frontmost->id = "org.example.mail";
        desktop.audio->setDevices({AudioDeviceInfo{1, "pci-0", "Laptop Mic", true, 1},
                                   AudioDeviceInfo{2, "usb-1", "Webcam Mic", false, 1}});
        installAudioBackend(desktop.audio);
        // Every test starts from the default configuration file and no mode picks.
        writeFixture(processValues().CONFIG_PATH, defaultConfigText(processValues().HOME));
        removeFile(processValues().file(UserFile::ModeUsage));
        config = Config::defaults(processValues().HOME);
    }
    void TearDown() override {
        if (auto open = ChoicePanel::current()) open->resolve("keep");
    }

    // The real configuration file and mode memory; a pretend desktop, service and clock, and the
    // test's queue unless another is given.
    std::unique_ptr<UIController> controller(MainQueue* main = nullptr) {
        UiServices services =
            UiServices::from(processValues(), PlatformServices::installed(), DecodeMemory::fresh());
        services.frontmost = desktop.frontmost;
        services.files = desktop.opener;
        services.service = desktop.service;
        services.exit = [this](int code) { exitCode = code; };
        services.now = [this] { return clock; };
        services.useDecodeModel = [this](const std::string& name) {
            usedModels.push_back(name);
            modelInUse = name;
        };
        services.decodeModelInUse = [this] { return modelInUse; };
        services.triggerCodeForKey = triggerCodeForKeysym; // Qt's native keys here: keysyms
        services.addToggleShortcut = [this] {
            ++shortcutOffers;
            return ShortcutOffer{true, "Super+Alt+Space now starts and stops dictation"};
        };
        return std::make_unique<UIController>(&session, main != nullptr ? *main : queue, config,
                                              std::move(services));
    }
    std::string configText() const { return readFixture(processValues().CONFIG_PATH); }

    test::ManualMainQueue queue;
    Desktop desktop;
    FakeSession session;
    Config config;
    double clock = 100;
    std::optional<int> exitCode;
    std::vector<std::string> usedModels; // what the daemon was told to decode with
    int shortcutOffers = 0;              // desktop shortcuts the settings window asked for
    std::string modelInUse = "large-v3-turbo-q5_0";
};

// ---- The pill and the status item

TEST_F(Interface, ElapsedTimeLeavesOutAPauseAndTheStatusTitleFollowsTheState) {
    auto ui = controller();
    const StatusItem& status = ui->statusItem();
    RecordingPill& pill = ui->pill();
    ui->setup();
    EXPECT_EQ(status.title(), "🎙");
    ui->setBusy(1);
    EXPECT_EQ(status.title(), "⏳");
    ui->setBusy(-3);
    EXPECT_EQ(status.title(), "🎙");
    ui->setBusy(1); // the count stopped at zero
    EXPECT_EQ(status.title(), "⏳");

    session.recording = true;
    ui->recordingStarted();
    EXPECT_TRUE(pill.panel()->isVisible());
    EXPECT_TRUE(pill.waveform()->isRunning());
    EXPECT_EQ(status.title(), "🔴 0:00");
    EXPECT_EQ(status.toggleTitle(), "Stop & Transcribe (Right Super)");
    EXPECT_EQ(pill.captionText(), "Recording."); // no caption model here
    clock += 185;
    pill.tick();
    EXPECT_EQ(status.title(), "🔴 3:05");

    ui->showPaused(true, "Paused while settings are open.");
    EXPECT_EQ(status.title(), "⏸");
    EXPECT_EQ(pill.captionText(), "Paused while settings are open.");
    EXPECT_FALSE(pill.waveform()->isRunning());
    clock += 10;
    pill.tick();
    EXPECT_EQ(pill.elapsedText(), "3:05");
    EXPECT_EQ(status.title(), "⏸");
    ui->showPaused(false);
    EXPECT_EQ(pill.captionText(), "Listening…");
    EXPECT_TRUE(pill.waveform()->isRunning());
    clock += 1;
    pill.tick();
    EXPECT_EQ(status.title(), "🔴 3:06");

    session.recording = false;
    ui->recordingStopped();
    EXPECT_FALSE(pill.panel()->isVisible());
    EXPECT_EQ(status.title(), "⏳"); // one job still running
    ui->setBusy(-1);
    EXPECT_EQ(status.title(), "🎙");
    EXPECT_EQ(status.toggleTitle(), "Start Dictation (Right Super)");

    // With a caption model the pill says it listens; long captions keep their newest part.
    test::TempDir models;
    writeFixture(models.file("caption.bin"), "model");
    config.captionModel = models.file("caption.bin");
    auto captioned = controller();
    captioned->recordingStarted();
    EXPECT_EQ(captioned->pill().captionText(), "Listening…");
    captioned->setCaption(std::string(1100, 'a') + std::string(300, 'b'));
    EXPECT_EQ(captioned->pill().captionText(), std::string(900, 'a') + std::string(300, 'b'));
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

TEST_F(Interface, ThePillSaysTheTriggerKeyIsOffAndAsksToBePlacedUntilItIs) {
    auto placement = std::make_shared<LatePlacement>();
    installPanelPlacement(placement);
    auto ui = controller();
    RecordingPill& pill = ui->pill();
    const std::string notice = "no keyboard under /dev/input — the trigger key arms once one "
                               "appears";
    ui->setTriggerNotice(notice);
    session.recording = true;
    ui->recordingStarted();
    EXPECT_EQ(pill.captionText(), "Trigger key off — " + notice);
    // Wrapped across the pill's caption line from its first showing, not into a narrow column.
    int captions = 0;
    for (const QLabel* label : pill.panel()->findChildren<QLabel*>()) {
        if (label->text().toStdString() != pill.captionText()) continue;
        ++captions;
        EXPECT_GT(label->width(), pill::layout(pill::kWidth, pill::kHeight).caption.width() - 12);
    }
    EXPECT_EQ(captions, 1);
    EXPECT_EQ(pill.hintText(), "The trigger key is off: press Done to finish");
    EXPECT_EQ(placement->prepared, std::vector<std::string>{"vak-dictate pill"});
    queue.advance(2);
    const QPoint corner = pill.panel()->geometry().topLeft();
    EXPECT_EQ(placement->asked,
              (std::vector<std::pair<int, int>>(3, std::pair(corner.x(), corner.y()))));

    ui->recordingStopped();
    ui->setTriggerNotice({});
    ui->recordingStarted();
    EXPECT_EQ(pill.captionText(), "Recording.");
    EXPECT_EQ(pill.hintText(), "Tap Right Super to finish, or press Done");
    installPanelPlacement(nullptr);
}

TEST_F(Interface, PickingAModeWritesItAndRemembersItForTheApplicationUnlessItIsAsk) {
    auto ui = controller();
    ui->setup();
    EXPECT_EQ(ui->pill().modeButton()->text().toStdString(), "◈  Mode");
    ui->modeMenu().choose("Normal");
    EXPECT_NE(configText().find("\nSELECTED_MODE=normal"), std::string::npos);
    EXPECT_EQ(readFixture(processValues().file(UserFile::ModeUsage)), "org.example.mail\tnormal\n");
    EXPECT_EQ(ui->selectedMode(), DeliverMode::raw);
    EXPECT_TRUE(ui->modePickedThisRecording());
    EXPECT_EQ(ui->pill().modeButton()->text().toStdString(), "◈  Normal");

    ui->modeMenu().choose("Ask");
    EXPECT_NE(configText().find("\nSELECTED_MODE=ask"), std::string::npos);
    EXPECT_EQ(configText().find("SELECTED_MODE=normal"), std::string::npos);
    EXPECT_EQ(readFixture(processValues().file(UserFile::ModeUsage)),
              "org.example.mail\tnormal\n"); // nothing recorded
    EXPECT_EQ(ui->pill().modeButton()->text().toStdString(), "◈  Mode");
    ui->modeMenu().choose("Fancy");
    EXPECT_EQ(ui->selectedMode(), DeliverMode::ask);

    // A new recording starts unpicked; the mode itself comes back at the next start.
    ui->recordingStarted();
    EXPECT_FALSE(ui->modePickedThisRecording());
    config.selectedMode = DeliverMode::professional;
    auto restarted = controller();
    restarted->setup();
    EXPECT_EQ(restarted->selectedMode(), DeliverMode::professional);
    EXPECT_EQ(restarted->pill().modeButton()->text().toStdString(), "◈  Professional");
}

TEST_F(Interface, TheModeMenuPausesTheRecordingUntilItClosesOrTheExplainerIsDone) {
    auto ui = controller();
    session.recording = true;
    ui->recordingStarted();
    ui->pill().modeButton()->click();
    EXPECT_TRUE(session.paused);
    EXPECT_EQ(ui->pill().captionText(), "Paused while you pick a mode.");
    QMenu* menu = ui->modeMenu().menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->actions()[6]->isChecked()); // "Ask me after I stop", the default
    EXPECT_FALSE(menu->actions()[0]->isChecked());
    EXPECT_EQ(menu->actions()[0]->toolTip().toStdString(), example(DeliverMode::professional));

    menu->actions()[1]->trigger();
    menu->hide();
    EXPECT_TRUE(session.paused); // resumed on the next turn of the main queue
    queue.advance(0);
    EXPECT_FALSE(session.paused);
    EXPECT_EQ(ui->selectedMode(), DeliverMode::summarize);
    EXPECT_EQ(ui->pill().captionText(), "Listening…");

    // Reading about the modes keeps the pause until the explainer's Done.
    ui->pill().modeButton()->click();
    ui->modeMenu().menu()->actions().back()->trigger();
    ui->modeMenu().menu()->hide();
    queue.advance(0);
    EXPECT_TRUE(session.paused);
    EXPECT_TRUE(ui->panels().modeInfo().isVisible());
    ui->panels().modeInfo().done();
    EXPECT_FALSE(session.paused);
    EXPECT_FALSE(ui->panels().modeInfo().isVisible());
    EXPECT_EQ(session.calls, (std::vector<std::string>{"pause", "resume", "pause", "resume"}));

    // Nothing to pause when not recording.
    session.recording = false;
    ui->pill().modeButton()->click();
    EXPECT_FALSE(session.paused);
    EXPECT_FALSE(ui->modeMenu().pauseActive());
}

TEST_F(Interface, ButtonsAndMenuItemsReachTheSessionAndNameTheConfiguredKey) {
    config.hotkey = 62;
    auto ui = controller();
    ui->setup();
    EXPECT_EQ(ui->statusItem().toggleTitle(), "Start Dictation (Right Control)");
    EXPECT_EQ(ui->pill().finishButton()->toolTip().toStdString(),
              "Finish and paste. The Right Control key does the same thing.");
    ui->pill().finishButton()->click();
    ui->pill().cancelButton()->click();
    EXPECT_TRUE(session.calls.empty()); // nothing recording
    session.recording = true;
    ui->pill().finishButton()->click();
    ui->pill().cancelButton()->click();
    // Start/stop, cancel, a separator, the recent dictations and failed recordings, a separator,
    // settings, the log, quit.
    const QList<QAction*> menu = ui->statusItem().menu().actions();
    menu[0]->trigger();
    menu[1]->trigger();
    // A left click on the tray icon toggles; the right button only opens the menu.
    ui->statusItem().activate(QSystemTrayIcon::Trigger);
    ui->statusItem().activate(QSystemTrayIcon::Context);
    EXPECT_EQ(session.calls,
              (std::vector<std::string>{"finish", "cancel", "toggle", "cancel", "toggle"}));

    ASSERT_EQ(menu.size(), 9);
    EXPECT_EQ(menu[3]->menu(), ui->recall().recent());
    menu[7]->trigger();
    EXPECT_EQ(desktop.opener->opened(), std::vector<std::string>{processValues().LOG});
    menu[8]->trigger();
    EXPECT_EQ(desktop.service->stops, 1);
    queue.advance(1.9);
    EXPECT_FALSE(exitCode);
    queue.advance(0.2);
    EXPECT_EQ(exitCode, 0);

    // A notice floats for five seconds.
    ui->showNotice("Nothing had the focus");
    EXPECT_EQ(ui->panels().notice().text(), "Nothing had the focus");
    queue.advance(4.9);
    EXPECT_TRUE(ui->panels().notice().isVisible());
    queue.advance(0.2);
    EXPECT_FALSE(ui->panels().notice().isVisible());
}

TEST_F(Interface, GripsResizeThePillWhichThenReopensWhereTheUserLeftIt) {
    auto ui = controller();
    ui->recordingStarted();
    queue.advance(1); // our own placement is not the user's
    PillPanel* pill = ui->pill().panel();
    const QRect start = pill->geometry();
    EXPECT_EQ(start.size(), QSize(640, 196));
    EXPECT_FALSE(ui->pill().customFrame());
    std::vector<ResizeEdgeView*> grips; // no meta-object of their own: findChildren cannot tell
    for (QObject* child : pill->children()) {
        if (auto* grip = dynamic_cast<ResizeEdgeView*>(child)) grips.push_back(grip);
    }
    ASSERT_EQ(grips.size(), 8u);
    ResizeEdgeView* left = grips[0];
    ASSERT_EQ(left->edges(), pill::Left);

    left->release(); // no drag began
    left->grab(start.topLeft() + QPoint(2, 50));
    left->drag(start.topLeft() + QPoint(1002, 80));
    left->release();
    test::settle(0.05);
    EXPECT_EQ(pill->geometry(), QRect(start.right() + 1 - 420, start.y(), 420, 196));
    EXPECT_EQ(ui->pill().finishButton()->width(), 92); // laid out again for the new width
    ASSERT_TRUE(ui->pill().customFrame());
    EXPECT_EQ(*ui->pill().customFrame(), pill->geometry());

    ui->recordingStopped();
    ui->recordingStarted();
    EXPECT_EQ(pill->geometry(), *ui->pill().customFrame());
}

// ---- Choice panel

// A newer transcript keeps the open one as spoken; an unanswered one is kept when its time is up;
// clicks after either do nothing.
TEST_F(Interface, AChoiceIsKeptAsSpokenWhenSupersededOrUnanswered) {
    std::vector<std::string> ran;
    const auto actions = [&](const std::string& name) {
        return std::array<ChoicePanel::Action, 3>{[&ran, name] { ran.push_back(name + ":S"); },
                                                  [&ran, name] { ran.push_back(name + ":P"); },
                                                  [&ran, name] { ran.push_back(name + ":K"); }};
    };
    auto a = actions("first");
    auto first = ChoicePanel::show(queue, "first words", a[0], a[1], a[2], 7.9, panelPlacement());
    EXPECT_EQ(first->noteText(), "keeps as spoken in 7s");
    std::string transcript = "one two  three ";
    while (transcript.size() < 200)
        transcript += "word ";
    transcript.resize(200);
    auto b = actions("second");
    auto second = ChoicePanel::show(queue, transcript, b[0], b[1], b[2], 30, panelPlacement());
    EXPECT_EQ(ran, std::vector<std::string>{"first:K"});
    EXPECT_EQ(ChoicePanel::current(), second);
    EXPECT_EQ(second->headerText(), "Transcript ready · 40 words");
    EXPECT_EQ(second->previewText(), transcript.substr(0, 180));
    queue.advance(29.9);
    EXPECT_EQ(ran.size(), 1u);
    queue.advance(0.2);
    EXPECT_EQ(ran, (std::vector<std::string>{"first:K", "second:K"}));
    EXPECT_FALSE(second->panel()->isVisible());
    EXPECT_EQ(ChoicePanel::current(), nullptr);
    first->summarizeClicked();
    second->professionalClicked();
    EXPECT_EQ(ran.size(), 2u);
    // An answered one runs its choice once.
    auto c = actions("third");
    ChoicePanel::show(queue, "third words", c[0], c[1], c[2], 30, panelPlacement())
        ->professionalClicked();
    queue.advance(60);
    EXPECT_EQ(ran.back(), "third:P");
    EXPECT_EQ(ran.size(), 3u);
}

// ---- Settings window

TEST_F(Interface, TheTriggerKeyIsCapturedAfterTwoClicksAndOnlyFromAModifier) {
    auto ui = controller();
    SettingsWindow& settings = ui->panels().settings();
    settings.show();
    EXPECT_EQ(settings.hotkeyButton()->text().toStdString(), "Right Super");
    settings.hotkeyClicked();
    EXPECT_EQ(settings.hotkeyButton()->text().toStdString(), "Click once more to change");
    EXPECT_FALSE(settings.isListening());
    settings.hotkeyClicked();
    EXPECT_EQ(settings.hotkeyButton()->text().toStdString(), "Press any modifier key now");
    ASSERT_TRUE(settings.isListening());
    EXPECT_TRUE(ui->isCapturingHotkey());

    const auto press = [&](Qt::Key key, std::uint32_t keysym) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, 0, keysym, 0);
        QCoreApplication::sendEvent(settings.hotkeyButton(), &event);
    };
    press(Qt::Key_A, 0x61);          // a letter
    press(Qt::Key_CapsLock, 0xffe5); // a modifier that cannot be a trigger
    EXPECT_TRUE(settings.isListening());
    EXPECT_EQ(settings.pendingHotkey(), 54);
    press(Qt::Key_AltGr, 0xffea); // Right Alt
    EXPECT_FALSE(settings.isListening());
    EXPECT_FALSE(ui->isCapturingHotkey());
    EXPECT_FALSE(settings.hotkeyArmed());
    EXPECT_EQ(settings.pendingHotkey(), 61);
    EXPECT_EQ(settings.hotkeyButton()->text().toStdString(), "Right Alt");
    press(Qt::Key_Shift, 0xffe1); // no longer listening
    EXPECT_EQ(settings.pendingHotkey(), 61);
    EXPECT_FALSE(settings.shortcutButton()->isVisible());
    settings.window()->close();

    // Where the trigger key is off and the desktop takes a shortcut, the window offers one in
    // place of the key's hint, and says what adding it did.
    ui->setTriggerNotice("no keyboard under /dev/input");
    ui->offerShortcut("GNOME");
    settings.show();
    ASSERT_TRUE(settings.shortcutButton()->isVisible());
    EXPECT_EQ(settings.shortcutButton()->text().toStdString(), "Add shortcut: Super+Alt+Space");
    settings.shortcutButton()->click();
    EXPECT_EQ(shortcutOffers, 1);
    EXPECT_EQ(settings.statusLabel()->text().toStdString(),
              "Super+Alt+Space now starts and stops dictation");
    EXPECT_FALSE(settings.shortcutButton()->isEnabled());
    settings.window()->close();
}

TEST_F(Interface, SaveWritesTheSettingsInOrderAndRestartsAMomentLater) {
    config.inputDevice = "USB Headset"; // unplugged since
    config.language = "de";
    config.defaultMode = DeliverMode::ask;
    config.style = "Short sentences.";
    config.whisperMode = true;
    config.talkMode = TalkMode::Hold;
    auto ui = controller();
    SettingsWindow& settings = ui->panels().settings();
    settings.show();
    QComboBox* mics = settings.micPopup();
    ASSERT_EQ(mics->count(), 2);
    EXPECT_EQ(mics->itemText(1).toStdString(), "Webcam Mic");
    EXPECT_EQ(mics->currentIndex(), 0);
    EXPECT_EQ(mics->currentText().toStdString(), "Built in microphone");
    EXPECT_EQ(settings.languagePopup()->currentText().toStdString(), "German");
    EXPECT_TRUE(settings.whisperToggle()->isChecked());
    EXPECT_EQ(settings.talkModePopup()->currentText().toStdString(), "Hold while you speak");
    settings.talkModePopup()->setCurrentIndex(1);

    // Return that picks an entry of an open list only picks it; Return elsewhere saves.
    const auto pressReturn = [](QWidget* to) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(to, &press);
    };
    settings.languagePopup()->showPopup();
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    pressReturn(settings.languagePopup()->view());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(settings.statusLabel()->text().isEmpty());
    pressReturn(settings.whisperToggle());
    EXPECT_EQ(settings.statusLabel()->text().toStdString(), "Saved. Restarting Brindle.");
    const std::string text = configText();
    const auto at = [&](const std::string& line) { return text.find("\n" + line + "\n"); };
    EXPECT_NE(at("WHISPER_MODE=1"), std::string::npos);
    EXPECT_NE(at("DEFAULT_MODE=ask"), std::string::npos); // kept, though the list lacks it
    EXPECT_NE(at("LANGUAGE=de"), std::string::npos);
    EXPECT_NE(at("INPUT_DEVICE=builtin"), std::string::npos);
    // Keys the file did not have are added at its end, in the order they were saved.
    EXPECT_TRUE(text.ends_with("\nSTYLE=Short sentences.\nHOTKEY=54\nTALK_MODE=tap")) << text;
    EXPECT_EQ(settings.statusLabel()->text().toStdString(), "Saved. Restarting Brindle.");
    queue.advance(0.55);
    EXPECT_EQ(desktop.service->restarts, 0);
    queue.advance(0.1);
    EXPECT_EQ(desktop.service->restarts, 1);

    // A present device and a language the list does not name are saved as they are.
    config.inputDevice = "Webcam Mic";
    config.language = "sv";
    auto other = controller();
    other->panels().settings().show();
    EXPECT_EQ(other->panels().settings().micPopup()->currentIndex(), 1);
    other->panels().settings().saveClicked();
    EXPECT_NE(configText().find("\nINPUT_DEVICE=Webcam Mic\n"), std::string::npos);
    EXPECT_NE(configText().find("\nLANGUAGE=sv\n"), std::string::npos);
    desktop.service->succeeds = false;
    queue.advance(1);
    EXPECT_EQ(other->panels().settings().statusLabel()->text().toStdString(),
              "Saved. Restart Brindle to apply.");
    settings.window()->close();
    other->panels().settings().window()->close();
}

TEST_F(Interface, OpenSettingsPauseARecordingAndOpenTheFilesAndSwitchStartAtLogin) {
    auto ui = controller();
    session.recording = true;
    ui->recordingStarted();
    SettingsWindow& settings = ui->panels().settings();
    settings.show();
    EXPECT_TRUE(session.paused);
    EXPECT_EQ(ui->pill().captionText(), "Paused while settings are open.");
    EXPECT_EQ(ui->statusItem().title(), "⏸");
    settings.window()->close();
    EXPECT_FALSE(session.paused);
    EXPECT_EQ(ui->pill().captionText(), "Listening…");

    const std::string& words = processValues().LEARNED_PATH;
    removeFile(words);
    settings.openDictionary();
    EXPECT_EQ(readFixture(words),
              "# One per line. Write Canonical|misheard,variants to fix a word.\n");
    writeFixture(words, "Kubernetes|cooper netties\n");
    settings.openDictionary();
    EXPECT_EQ(readFixture(words), "Kubernetes|cooper netties\n");
    settings.openAdvanced();
    EXPECT_EQ(desktop.opener->opened(),
              (std::vector<std::string>{words, words, processValues().CONFIG_PATH}));

    // Start at login switches the user's entry at once and shows it when the window opens; an
    // entry that cannot be written is said so, and the switch shows what is there.
    const std::string entry = autostartEntryPath(processValues().HOME, nullptr);
    removeFile(entry);
    settings.show();
    EXPECT_FALSE(settings.loginToggle()->isChecked());
    settings.loginToggle()->click();
    EXPECT_TRUE(autostartEnabled(entry));
    EXPECT_EQ(settings.statusLabel()->text().toStdString(),
              "It starts when you log in from now on.");
    EXPECT_EQ(desktop.service->restarts, 0); // nothing to restart for
    settings.window()->close();
    settings.show();
    EXPECT_TRUE(settings.loginToggle()->isChecked());
    settings.loginToggle()->click();
    EXPECT_FALSE(pathExists(entry));
    makeDirectories(entry);
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
    const std::vector<Case> cases = {
        {0, "Webcam Mic", false},
        {26, "Webcam Mic", true},
        {0, "USB Audio Device Conference Speakerphone with Echo Cancelling, analogue stereo input",
         true},
    };
    const QFont usual = QApplication::font();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const Case& row : cases) {
        SCOPED_TRACE(row.microphone + " at " + std::to_string(row.pixels) + " px");
        QFont font = usual;
        if (row.pixels > 0) font.setPixelSize(row.pixels);
        QApplication::setFont(font);
        desktop.audio->setDevices({AudioDeviceInfo{2, "usb-1", row.microphone, false, 1}});
        config.inputDevice = row.microphone;
        auto ui = controller();
        if (row.offer) ui->offerShortcut("GNOME");
        SettingsWindow& settings = ui->panels().settings();
        settings.show();
        settings.modelProgress()->show(); // as while a model downloads
        QCoreApplication::processEvents();

        QWidget* window = settings.window();
        EXPECT_LE(window->width(), screen.width());
        EXPECT_LE(window->height(), screen.height());
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
        for (const QWidget* control : std::initializer_list<const QWidget*>{
                 settings.modelProgress(), settings.loginToggle()})
            ASSERT_NE(std::find(shown.begin(), shown.end(), control), shown.end());
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
                EXPECT_FALSE(widget->geometry().intersects(shown[j]->geometry()))
                    << shown[j]->metaObject()->className();
        }
        settings.window()->close();
    }
    QApplication::setFont(usual);
}

TEST_F(Interface, AModelPickedIsUsedAtOnceAndOneNotInstalledIsDownloadedFirst) {
    // A slow host: every download takes a few seconds.
    test::ModelHost host(-1, 400000);
    const std::string sums = processValues().HOME + "/model-sums";
    writeFixture(sums, host.publish("ggml-base.en.bin", 800000) + "  ggml-base.en.bin\n");
    host.publish("ggml-medium.en.bin", 4000000);
    setenv("VAK_MODEL_BASE_URL", host.url().c_str(), 1);
    setenv("VAK_MODEL_SHA1SUMS", sums.c_str(), 1);
    const std::string models = modelsDirectory(processValues().HOME);
    std::filesystem::remove_all(models);
    makeDirectories(models);
    writeFixture(modelPath(processValues().HOME, "tiny.en"), "lmgg");
    // Each row shows the speed measured here, when there is one.
    ASSERT_TRUE(recordModelSpeed(processValues().MODEL_SPEEDS_PATH, "tiny.en", {6, 0.42}));

    // The download reports from its own thread: a queue that takes posts from there.
    QtMainQueue main;
    auto ui = controller(&main);
    SettingsWindow& settings = ui->panels().settings();
    settings.show();
    QComboBox* list = settings.modelPopup();
    const auto row = [&](const char* name) { return list->findData(QString(name)); };
    const auto item = [&](const char* name) { return list->itemText(row(name)).toStdString(); };
    const auto status = [&] { return settings.modelStatus()->text().toStdString(); };
    EXPECT_EQ(item("tiny.en"), "tiny.en · whisper · 75 MiB — installed · 6 s of audio in 0.4 s");

    // An installed model is saved and used at once.
    settings.modelPicked(row("tiny.en"));
    EXPECT_NE(configText().find("\nDECODE_MODEL=tiny.en\n"), std::string::npos);
    EXPECT_EQ(usedModels, std::vector<std::string>{"tiny.en"});
    EXPECT_EQ(status(), "Dictations are decoded with tiny.en from now on.");

    // One that is not there is downloaded first, its progress shown as it goes.
    settings.modelPicked(row("base.en"));
    EXPECT_EQ(settings.downloadingModel(), "base.en");
    EXPECT_TRUE(settings.modelProgress()->isVisible());
    ASSERT_TRUE(test::waitUntil([&] { return settings.modelProgress()->value() > 0; }));
    EXPECT_TRUE(status().starts_with("Downloading base.en:  0.")) << status();
    EXPECT_NE(status().find(" / 0.8 MiB  0."), std::string::npos) << status();
    EXPECT_TRUE(status().ends_with(" left")) << status();
    EXPECT_EQ(usedModels.size(), 1u); // not before it is in place
    ASSERT_TRUE(test::waitUntil([&] { return !settings.modelProgress()->isVisible(); }));
    EXPECT_EQ(usedModels, (std::vector<std::string>{"tiny.en", "base.en"}));
    EXPECT_NE(configText().find("\nDECODE_MODEL=base.en\n"), std::string::npos);
    EXPECT_EQ(status(), "base.en downloaded. Dictations are decoded with base.en from now on.");
    EXPECT_EQ(item("base.en"), "base.en · whisper · 142 MiB — installed · not measured");

    // Closing the window stops a download; what arrived stays for the next try.
    const std::string medium = modelPath(processValues().HOME, "medium.en");
    settings.modelPicked(row("medium.en"));
    ASSERT_TRUE(test::waitUntil([&] { return fileSize(medium + ".part").value_or(0) > 0; }));
    settings.window()->close();
    ASSERT_TRUE(test::waitUntil([&] { return !settings.downloadingModel(); }, 5));
    EXPECT_FALSE(pathExists(medium));
    EXPECT_NE(configText().find("\nDECODE_MODEL=base.en\n"), std::string::npos);

    // The window opens on the model the daemon decodes with now, though another start (a first
    // one, choosing for the machine) may have switched it.
    modelInUse = "tiny.en";
    settings.show();
    EXPECT_TRUE(list->currentText().startsWith("tiny.en · whisper"))
        << list->currentText().toStdString();
    unsetenv("VAK_MODEL_BASE_URL");
    unsetenv("VAK_MODEL_SHA1SUMS");
}

// ---- First-run note, producer panel, demos

TEST_F(Interface, TheFirstRunNoteAppearsOnceAndSaysWhereTheWordsWent) {
    const std::string& marker = processValues().FIRST_RUN_MARKER;
    const auto alerts = [] {
        std::vector<QMessageBox*> found;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                found.push_back(box);
        }
        return found;
    };
    struct Case {
        std::uint16_t hotkey;
        TranscribedOn where;
        bool privacyMode;
        bool startedWithKey;
        const char* start;
        const char* transcribed;
        const char* end;
    };
    for (const Case& c :
         {Case{54, TranscribedOn::ThisComputer, true, true,
               "You tapped Right Super, said a sentence",
               "written down right here on your computer", ", and nothing was saved."},
          Case{60, TranscribedOn::CloudEngine, false, true,
               "You tapped Right Shift, said a sentence", "written down by the cloud engine",
               "kept in your encrypted history."},
          // Started by the signal, --toggle or the tray: no key was tapped.
          Case{54, TranscribedOn::ThisComputer, true, false,
               "You started a recording, said a sentence, and stopped it.",
               "written down right here on your computer", ", and nothing was saved."}}) {
        removeFile(marker);
        config.hotkey = c.hotkey;
        config.privacyMode = c.privacyMode;
        auto ui = controller();
        ui->explainAfterFirstDictation(c.where, c.startedWithKey);
        EXPECT_TRUE(pathExists(marker));
        queue.advance(1.1);
        EXPECT_TRUE(alerts().empty());
        queue.advance(0.2);
        ASSERT_EQ(alerts().size(), 1u);
        QMessageBox* box = alerts().front();
        const std::string text = box->informativeText().toStdString();
        EXPECT_TRUE(text.starts_with(c.start)) << text;
        EXPECT_NE(text.find(c.transcribed), std::string::npos) << text;
        EXPECT_TRUE(text.ends_with(c.end)) << text;
        box->close();
        test::settle(0.05);
        ui->explainAfterFirstDictation(c.where, c.startedWithKey);
        queue.advance(5);
        EXPECT_TRUE(alerts().empty());
    }
}

TEST(Demos, TheHudDemosLengthIsAPositiveNumberOrTheDefault) {
    EXPECT_EQ(demoFor("--hud"), std::nullopt);
    EXPECT_EQ(hudDemoSeconds("2.5"), 2.5);
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "soon", "-1", "inf"})
        EXPECT_EQ(hudDemoSeconds(unusable), hudDemoSeconds(nullptr)) << unusable;
}

} // namespace
} // namespace vak
