// The interface on a private Xvfb display: focus, first clicks and keys, the status menu through
// the real clipboard, the HUD demo, and screenshots of every panel in the build's artifacts.
#include "history/history.h"
#include "platform/fake/fake_secret_store.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/xinput_key_monitor.h"
#include "platform/panel_placement.h"
#include "platform/platform_services.h"
#include "producer/producer_link.h"
#include "session/key_recognizer.h"
#include "session/recall.h"
#include "support/desktop_fixtures.h"
#include "support/recording_key_actions.h"
#include "transcribe/decode_settings.h"
#include "ui/click_through_button.h"
#include "ui/first_run_note.h"
#include "ui/ui_texts.h"
#include "ui_fixture.h"

#include <QPainter>
#include <cstdlib>
#include <memory>
#include <thread>

#include <xcb/xcb.h>

namespace vak {
namespace {

[[maybe_unused]] const auto* const desktop =
    ::testing::AddGlobalTestEnvironment(new test::QtDesktop); // gtest owns it

using test::settle;
using test::waitUntil;

// The titles of a menu's items ("" for a separator).
std::vector<std::string> titles(QMenu* menu) {
    std::vector<std::string> all;
    for (QAction* action : menu->actions())
        all.push_back(action->text().toStdString());
    return all;
}
QAction* itemOf(QMenu* menu, std::string_view title) {
    for (QAction* action : menu->actions())
        if (action->text().toStdString() == title) return action;
    ADD_FAILURE() << "no item " << title;
    return nullptr;
}

struct OnScreen : ::testing::Test {
    void SetUp() override {
        if (const auto why = test::QtDesktop::missing(); !why.empty())
            GTEST_SKIP() << "no private X display: " << why;
        ASSERT_TRUE(hands.ready());
    }
    void TearDown() override {
        if (auto open = ChoicePanel::current()) open->resolve("keep");
        installSecretStore(nullptr);
    }
    UIController controller(const Config& config = cfg()) {
        UiServices services =
            UiServices::from(processValues(), PlatformServices::installed(), DecodeMemory::fresh());
        services.pasteboard = std::make_shared<QtPasteboard>();
        // A retry that takes its time and gives `answer`, when off the main thread.
        services.retryRecording = [this](const std::string&) -> std::optional<std::string> {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (std::this_thread::get_id() == mainThread) return "retried on the main thread";
            return answer;
        };
        return UIController(&session, test::QtDesktop::queue(), config, std::move(services));
    }
    std::optional<std::uint32_t> focus() { return hands.x().inputFocus(); }
    void click(QWidget* widget) {
        const QPoint at = widget->mapToGlobal(widget->rect().center());
        hands.click(at.x(), at.y());
    }
    bool viewable(QWidget* window) {
        XcbConnection& x = hands.x();
        const auto id = static_cast<xcb_window_t>(window->winId());
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
            xcb_get_window_attributes_reply(x.raw(), xcb_get_window_attributes(x.raw(), id),
                                            nullptr),
            &std::free);
        return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    // A window's picture on a neutral backdrop (its corners are translucent), for a person.
    void save(QWidget* window, const std::string& name) {
        settle(0.15);
        const QPixmap picture = window->grab();
        QImage image(picture.width() + 48, picture.height() + 48, QImage::Format_ARGB32);
        image.fill(QColor(92, 104, 120));
        QPainter(&image).drawPixmap(24, 24, picture);
        std::filesystem::create_directories(VAK_ARTIFACTS_DIR);
        const std::string path = std::string(VAK_ARTIFACTS_DIR) + "/" + name + ".png";
        EXPECT_TRUE(image.save(QString::fromStdString(path)) && fileSize(path) > 2000) << path;
    }

    test::Hands hands;
    test::FakeSession session;
    std::shared_ptr<FakeSecretStore> keyring = std::make_shared<FakeSecretStore>();
    std::optional<std::string> answer;
    const std::thread::id mainThread = std::this_thread::get_id();
};

// The floating panels leave the focus with the application dictated into and act on the first
// click; keys that go to our own menu are not global keys; the HUD demo runs.
TEST_F(OnScreen, PanelsLeaveTheFocusActOnTheFirstClickAndKeepTheirKeys) {
    test::PasteTarget target;
    ASSERT_TRUE(target.ready());
    ASSERT_EQ(focus(), target.window());
    UIController ui = controller();
    session.recording = true;
    ui.recordingStarted();
    ASSERT_TRUE(waitUntil([&] { return viewable(ui.pill().panel()); }));
    settle(0.3);
    click(ui.pill().finishButton());
    EXPECT_TRUE(waitUntil([&] { return !session.calls.empty(); }, 5));
    EXPECT_EQ(session.calls, std::vector<std::string>{"finish"});
    ui.recordingStopped();

    // The producer panel and the choice panel over it, both at the bottom of the screen.
    ui.showProducerPanel();
    settle(0.2);
    auto chosen = std::make_shared<std::string>();
    ui.presentChoice(
        "a transcript waiting for a choice", [chosen] { *chosen = "summarize"; },
        [chosen] { *chosen = "professional"; }, [chosen] { *chosen = "keep"; });
    const auto choice = ChoicePanel::current();
    ASSERT_TRUE(waitUntil([&] {
        return viewable(choice->panel()) && ui.panels().producer().panel() != nullptr &&
               viewable(ui.panels().producer().panel());
    }));
    settle(0.3);
    EXPECT_EQ(focus(), target.window());
    save(ui.panels().producer().panel(), "producer-panel");
    save(choice->panel(), "choice-panel");
    ClickThroughButton* professional = nullptr;
    for (QObject* child : choice->panel()->children()) {
        auto* button = dynamic_cast<ClickThroughButton*>(child);
        if (button && button->text() == "Professional") professional = button;
    }
    ASSERT_NE(professional, nullptr);
    click(professional);
    EXPECT_TRUE(waitUntil([&] { return *chosen == "professional"; }, 5)) << *chosen;
    settle(0.2);
    EXPECT_EQ(focus(), target.window());
    hands.tap(0x61);
    EXPECT_TRUE(waitUntil([&] { return target.received() == "a"; }, 5)) << target.received();
    ui.hideProducerPanel();

    // The global monitor, as the daemon wires it: what went to us never reaches the recogniser.
    session.calls.clear();
    ui.recordingStarted();
    test::RecordingKeyActions actions;
    actions.recording = true;
    KeyRecognizer keys(actions, TriggerSettings{54, 0});
    XInputKeyMonitor monitor;
    ASSERT_TRUE(monitor.start([&](const InputEvent& event) {
        if (!ui.ownsKeyEvent(event)) keys.handle(event);
    }));
    ui.modeMenu().open(*ui.pill().modeButton());
    ASSERT_TRUE(waitUntil([&] { return ui.modeMenu().menu()->isVisible(); }));
    settle(0.2);
    hands.tap(keysym::Escape); // closes the menu; the recording goes on
    EXPECT_TRUE(waitUntil([&] { return !ui.modeMenu().menu()->isVisible(); }, 5));
    settle(0.3);
    EXPECT_TRUE(actions.calls.empty());
    EXPECT_EQ(session.calls, (std::vector<std::string>{"pause", "resume"}));
    ASSERT_TRUE(waitUntil([&] { return focus() == target.window(); }));
    hands.tap(keysym::Escape); // to the window dictated into: it cancels
    EXPECT_TRUE(waitUntil([&] { return actions.calls == std::vector<std::string>{"cancel"}; }));
    ui.recordingStopped();

    // The demo animates the pill and ends on time; then pictures of every panel.
    setenv("VAK_DEMO_SECS", "3.6", 1);
    double tallestBar = 0; // mid-sentence the bars move
    QTimer::singleShot(2000, [&] {
        for (double h : ui.pill().waveform()->model().heights())
            tallestBar = std::max(tallestBar, h);
    });
    const auto start = SteadyClock::now();
    EXPECT_EQ(runHudDemo(ui), 0);
    EXPECT_GE(secondsSince(start), 3.5);
    EXPECT_LT(secondsSince(start), 6);
    unsetenv("VAK_DEMO_SECS");
    const std::string caption = ui.pill().captionText();
    EXPECT_TRUE(std::string(HudDemo::sampleSentence()).starts_with(caption));
    EXPECT_GT(caption.size(), 40u);                          // about fifteen words in 3.6 s
    EXPECT_EQ(ui.selectedMode(), DeliverMode::professional); // picked three seconds in
    EXPECT_GT(tallestBar, 4.0);

    // Pictures of the pill as the demo left it, and of every other panel.
    save(ui.pill().panel(), "pill-captions");
    // The whole screen: the pill over the application being dictated into.
    EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(QString(VAK_ARTIFACTS_DIR) +
                                                                     "/desktop.png"));
    ui.recordingStopped();
    ui.panels().modeInfo().show();
    save(ui.panels().modeInfo().panel(), "mode-explainer");
    ui.panels().modeInfo().done();
    ui.panels().settings().show();
    save(ui.panels().settings().window(), "settings-window");
    ui.panels().settings().window()->close();
    QMessageBox* alert = showFirstRunAlert(
        ui_text::firstRunText(54, TranscribedOn::ThisComputer, false), *panelPlacement());
    save(alert, "first-run-alert");
    alert->close();
}

// Recent dictations open off the main thread and one chosen goes back on the clipboard; a failed
// recording is retried off the main thread until it gives text, and deleted on request.
TEST_F(OnScreen, TheStatusMenuGivesDictationsAndFailedRecordingsBack) {
    installSecretStore(keyring);
    for (int i = 1; i <= 12; ++i)
        appendHistory(processValues().HISTORY_PATH, keyring.get(),
                      "note " + std::to_string(i) + " & more", " raw", 1700000000 + 60 * i);
    test::writeFixture(processValues().HISTORY_PATH,
                       test::readFixture(processValues().HISTORY_PATH) + "1700000999\tdamaged\n");
    keyring->setReadDelay(0.4);
    test::writeFixture(processValues().scratch.failedRecording(7), std::string(44 + 64000, '\0'));
    const KeptRecording kept = processValues().scratch.failedRecordings().front();
    Config config = cfg();
    config.privacyMode = false;
    UIController ui = controller(config);
    QMenu* recent = ui.recall().recent();
    emit ui.statusItem().menu().aboutToShow(); // the keyring's wait is not the menu's
    EXPECT_EQ(titles(recent), std::vector<std::string>{"Opening the history…"});
    ASSERT_TRUE(waitUntil([&] { return titles(recent).size() > 1; }));
    // The newest ten, newest first (the tenth newest is the damaged one), then the count.
    EXPECT_EQ(titles(recent).size(), 11u);
    EXPECT_EQ(titles(recent)[0], localMinuteText(1700000720) + "  note 12 && more");
    recent->actions()[1]->trigger();
    EXPECT_EQ(test::clipboardFormats()["text/plain"], "note 11 & more");

    QMenu* failed = ui.recall().failed();
    const std::string title = keptRecordingTitle(kept);
    const auto retry = [&] {
        const std::string before = ui.panels().notice().text();
        itemOf(itemOf(failed, title)->menu(), "Retry")->trigger();
        EXPECT_EQ(titles(failed), std::vector<std::string>{title + " — retrying…"});
        EXPECT_EQ(ui.statusItem().title(), "⏳");
        EXPECT_TRUE(waitUntil([&] { return ui.panels().notice().text() != before; }));
        EXPECT_EQ(ui.statusItem().title(), "🎙");
        EXPECT_TRUE(isRegularFile(kept.path)); // kept either way, as --retry-failed keeps it
    };
    retry(); // no engine answers
    EXPECT_EQ(ui.panels().notice().text(),
              ui_text::retryFailedMessage(localMinuteText(kept.modified)));
    answer = "Hello again.";
    QtPasteboard().setText("earlier words");
    retry();
    EXPECT_EQ(test::clipboardFormats()["text/plain"], "Hello again.");
    itemOf(itemOf(failed, title)->menu(), "Delete")->trigger();
    EXPECT_FALSE(pathExists(kept.path));
    EXPECT_EQ(titles(failed), std::vector<std::string>{"None kept"});

    // With privacy mode on the menu says so, as --history does, and the keyring is not asked.
    const int reads = keyring->counts().reads;
    config.privacyMode = true;
    UIController quiet = controller(config);
    emit quiet.statusItem().menu().aboutToShow();
    settle(0.6);
    EXPECT_EQ(keyring->counts().reads, reads);
    std::string said;
    for (const auto& line : titles(quiet.recall().recent()))
        said += (said.empty() ? "" : " ") + line;
    EXPECT_EQ(said, HISTORY_OFF_TEXT);
}

} // namespace
} // namespace vak
