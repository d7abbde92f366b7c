// The interface on a private Xvfb display: the floating panels leave the keyboard focus with
// the application being dictated into, the pill's buttons act on the first click, the status
// menu gives dictations and failed recordings back through the real clipboard, the HUD demo
// runs, and screenshots of every panel go to the build's artifacts folder for a person to see.
#include "base/files.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "history/history.h"
#include "platform/fake/fake_secret_store.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/xinput_key_monitor.h"
#include "platform/platform_services.h"
#include "producer/producer_link.h"
#include "session/key_recognizer.h"
#include "session/recall.h"
#include "support/desktop_fixtures.h"
#include "support/qt_desktop.h"
#include "support/recording_key_actions.h"
#include "support/speech_fakes.h"
#include "ui/choice_panel.h"
#include "ui/click_through_button.h"
#include "ui/demos.h"
#include "ui/durad_ave_panel.h"
#include "ui/first_run_note.h"
#include "ui/floating_panel.h"
#include "ui/mode_info_panel.h"
#include "ui/pill_panel.h"
#include "ui/settings_window.h"
#include "ui/ui_controller.h"
#include "ui/ui_texts.h"
#include "ui/waveform_view.h"
#include "ui_fixture.h"

#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace vak {
namespace {

[[maybe_unused]] const auto* const desktop =
    ::testing::AddGlobalTestEnvironment(new test::QtDesktop); // gtest owns it

using test::FakeSession;
using test::PasteTarget;
using test::settle;
using test::waitUntil;

struct OnScreen : ::testing::Test {
    void SetUp() override {
        if (const auto why = test::QtDesktop::missing(); !why.empty())
            GTEST_SKIP() << "no private X display: " << why;
        ASSERT_TRUE(hands.ready());
    }
    UIController controller(const Config& config = cfg()) {
        UiServices services =
            UiServices::from(processValues(), PlatformServices::installed(), DecodeMemory::fresh());
        services.pasteboard = std::make_shared<QtPasteboard>();
        services.retryRecording = [this](const std::string& wav) { return retry(wav); };
        return UIController(&session, test::QtDesktop::queue(), config, std::move(services));
    }
    // A retry with scripted engines, which give `answer` (when off the main thread).
    std::optional<std::string> retry(const std::string& wav) {
        const auto decode = [this](const DecodeRequest&) -> std::optional<std::string> {
            if (std::this_thread::get_id() == mainThread) return "decoded on the main thread";
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return answer;
        };
        return retryKeptRecording(wav, processValues().scratch.retryTextBase(), decode,
                                  [](std::string_view raw) { return trim(raw); });
    }
    // Dictations sealed as the real history seals them, `step` seconds apart from `first`, under
    // a keyring that then takes its time, as a Secret Service may.
    void keepHistory(const std::vector<std::string>& texts, double first, double step) {
        installSecretStore(keyring);
        for (std::size_t i = 0; i < texts.size(); ++i)
            appendHistory(processValues().HISTORY_PATH, keyring.get(), texts[i], " raw",
                          static_cast<std::int64_t>(first + step * static_cast<double>(i)));
        keyring->setReadDelay(0.4);
    }
    // A two-second recording that every engine failed on.
    KeptRecording keepFailed(int number) {
        test::writeFixture(processValues().scratch.failedRecording(number),
                           std::string(44 + 64000, '\0'));
        return processValues().scratch.failedRecordings().front();
    }
    void TearDown() override {
        if (auto open = ChoicePanel::current()) open->resolve("keep");
        installSecretStore(nullptr);
        removeFile(processValues().HISTORY_PATH);
        for (const KeptRecording& recording : processValues().scratch.failedRecordings())
            removeFile(recording.path);
    }

    std::shared_ptr<FakeSecretStore> keyring = std::make_shared<FakeSecretStore>();
    std::optional<std::string> answer;
    const std::thread::id mainThread = std::this_thread::get_id();
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

    test::Hands hands;
    FakeSession session;
};

TEST_F(OnScreen, FloatingPanelsLeaveTheFocusAndTheirButtonsWorkOnTheFirstClick) {
    PasteTarget target;
    ASSERT_TRUE(target.ready());
    const auto before = focus();
    ASSERT_TRUE(before);
    ASSERT_EQ(*before, target.window());

    UIController ui = controller();
    session.recording = true;
    ui.recordingStarted();
    ASSERT_TRUE(waitUntil([&] { return viewable(ui.pill().panel()); }));
    settle(0.3);
    EXPECT_EQ(focus(), before);
    click(ui.pill().finishButton());
    EXPECT_TRUE(waitUntil([&] { return !session.calls.empty(); }, 5));
    EXPECT_EQ(session.calls, std::vector<std::string>{"finish"});
    ui.recordingStopped();

    // The producer panel, any time; the choice panel after a stop (over the producer panel:
    // both sit at the bottom of the screen).
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
    EXPECT_EQ(focus(), before);
    ClickThroughButton* professional = nullptr;
    for (QObject* child : choice->panel()->children()) {
        auto* button = dynamic_cast<ClickThroughButton*>(child);
        if (button && button->text() == "Professional") professional = button;
    }
    ASSERT_NE(professional, nullptr);
    click(professional);
    EXPECT_TRUE(waitUntil([&] { return !chosen->empty(); }, 5));
    EXPECT_EQ(*chosen, "professional");
    settle(0.2);
    EXPECT_EQ(focus(), before);
    // Typing still goes where it went.
    hands.tap(0x61);
    EXPECT_TRUE(waitUntil([&] { return target.received() == "a"; }, 5)) << target.received();
    ui.hideProducerPanel();
}

// The titles of a menu's items ("" for a separator) and the item titled `title`.
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

// The clipboard, as another program sees it, holds `text` with the marks our pastes carry for
// clipboard managers to leave it out.
void expectOnClipboard(const std::string& text) {
    auto formats = test::clipboardFormats();
    EXPECT_EQ(formats["text/plain"], text);
    for (const ClipboardMarker& marker : TRANSIENT_MARKERS)
        EXPECT_EQ(formats[std::string(marker.type)], marker.value) << marker.type;
}

TEST_F(OnScreen, RecentDictationsOpenOffTheMainThreadAndGoBackOnTheClipboardAsAPasteWould) {
    std::vector<std::string> notes;
    for (int i = 1; i <= 12; ++i)
        notes.push_back("note " + std::to_string(i) + " & more");
    keepHistory(notes, 1700000060, 60);
    test::writeFixture(processValues().HISTORY_PATH,
                       test::readFixture(processValues().HISTORY_PATH) + "1700000999\tdamaged\n");
    Config config = cfg();
    config.privacyMode = false;
    UIController ui = controller(config);
    QMenu* recent = ui.recall().recent();
    const auto start = SteadyClock::now();
    emit ui.statusItem().menu().aboutToShow();
    EXPECT_LT(secondsSince(start), 0.3); // the keyring's wait is not the menu's
    EXPECT_EQ(titles(recent), std::vector<std::string>{"Opening the history…"});
    ASSERT_TRUE(waitUntil([&] { return titles(recent).size() > 1; }));

    // The newest ten, newest first (the tenth newest is the damaged one), then the count.
    const auto shown = titles(recent);
    ASSERT_EQ(shown.size(), 11u);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(shown[i], localMinuteText(1700000000 + 60 * (12 - i)) + "  note " +
                                std::to_string(12 - i) + " && more");
    EXPECT_EQ(shown[10], "1 record could not be opened (damaged, or sealed under another key)");

    recent->actions()[1]->trigger();
    expectOnClipboard("note 11 & more");

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

TEST_F(OnScreen, AFailedRecordingIsRetriedOffTheMainThreadUntilItGivesTextAndDeletedOnRequest) {
    const KeptRecording kept = keepFailed(7);
    UIController ui = controller();
    emit ui.statusItem().menu().aboutToShow();
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
    answer = "  Hello again.  ";
    QtPasteboard().setText("earlier words");
    retry();
    EXPECT_EQ(ui.panels().notice().text(), ui_text::retriedMessage(localMinuteText(kept.modified)));
    expectOnClipboard("Hello again.");

    itemOf(itemOf(failed, title)->menu(), "Delete")->trigger();
    EXPECT_FALSE(pathExists(kept.path));
    EXPECT_EQ(titles(failed), std::vector<std::string>{"None kept"});
}

// Puts a window's picture on a neutral backdrop, so its translucent corners show as they would
// over a desktop.
QImage onBackdrop(const QPixmap& picture) {
    constexpr int kMargin = 24;
    QImage image(picture.width() + 2 * kMargin, picture.height() + 2 * kMargin,
                 QImage::Format_ARGB32);
    image.fill(QColor(92, 104, 120));
    QPainter painter(&image);
    painter.drawPixmap(kMargin, kMargin, picture);
    return image;
}

TEST_F(OnScreen, KeysThatGoToOurOwnMenuAreNotGlobalKeys) {
    PasteTarget target;
    ASSERT_TRUE(target.ready());
    UIController ui = controller();
    session.recording = true;
    ui.recordingStarted();
    // The global monitor, as the daemon wires it: what went to us never reaches the recogniser.
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
    // Escape closes the menu, and the recording goes on.
    hands.tap(keysym::Escape);
    EXPECT_TRUE(waitUntil([&] { return !ui.modeMenu().menu()->isVisible(); }, 5));
    settle(0.3);
    EXPECT_TRUE(actions.calls.empty());
    EXPECT_EQ(session.calls, (std::vector<std::string>{"pause", "resume"}));
    // The next Escape goes to the window being dictated into: it cancels.
    ASSERT_TRUE(waitUntil([&] { return focus() == target.window(); }));
    hands.tap(keysym::Escape);
    EXPECT_TRUE(waitUntil([&] { return !actions.calls.empty(); }, 5));
    EXPECT_EQ(actions.calls, std::vector<std::string>{"cancel"});
    ui.recordingStopped();
}

TEST_F(OnScreen, ScreenshotsOfEveryPanel) {
    const std::string folder = VAK_ARTIFACTS_DIR;
    std::filesystem::create_directories(folder);
    std::vector<std::string> written;
    const auto save = [&](QWidget* window, const std::string& name) {
        settle(0.15);
        const QPixmap picture = window->grab();
        const std::string path = folder + "/" + name + ".png";
        EXPECT_TRUE(onBackdrop(picture).save(QString::fromStdString(path))) << path;
        written.push_back(path);
        return picture.toImage();
    };

    PasteTarget target;
    UIController ui = controller();
    ui.setup();
    ui.recordingStarted();
    ui.setCaption("Listening…");
    const QImage idle = save(ui.pill().panel(), "pill-idle");

    ui.modeMenu().select(DeliverMode::professional);
    ui.setCaption(std::string(HudDemo::sampleSentence()));
    for (int frame = 0; frame < 20; ++frame) {
        ui.setLevel(0.8f);
        ui.pill().waveform()->frame();
    }
    ui.pill().waveform()->stop(); // the picture keeps the last frame's bars
    for (int frame = 0; frame < 12; ++frame) {
        ui.setLevel(0.9f);
        ui.pill().waveform()->frame();
    }
    const QImage captions = save(ui.pill().panel(), "pill-captions");
    EXPECT_NE(captions, idle);
    // The whole screen: the pill over the application being dictated into.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const std::string path = folder + "/desktop.png";
        EXPECT_TRUE(screen->grabWindow(0).save(QString::fromStdString(path)));
        written.push_back(path);
    }
    ui.recordingStopped();

    ui.presentChoice(
        "so I think we should move the launch to next Thursday because the payments team still "
        "needs two days for the refund flow and I want the docs to be ready before anyone sees it",
        {}, {}, {});
    save(ChoicePanel::current()->panel(), "choice-panel");

    ui.panels().modeInfo().show();
    save(ui.panels().modeInfo().panel(), "mode-explainer");
    ui.panels().modeInfo().done();

    makeDirectories(processValues().dictationDir() + "/producer");
    const double now = unixNow();
    producerInboxEvent(processValues().file(UserFile::ProducerInbox), "session-start", now);
    test::writeFixture(
        processValues().file(UserFile::ProducerOutbox),
        "{\"ts\": " + std::to_string(now + 0.5) +
            ", \"heard\": \"what is on the list for today\"}\n{\"ts\": " + std::to_string(now + 1) +
            ", \"said\": \"Three things: the launch note, the refund flow, and "
            "lunch with Priya at one.\"}\n");
    ui.showProducerPanel();
    ASSERT_TRUE(waitUntil([&] { return ui.panels().producer().isVisible(); }));
    save(ui.panels().producer().panel(), "producer-panel");

    ui.hideProducerPanel();
    ChoicePanel::current()->resolve("keep");

    SettingsWindow& settings = ui.panels().settings();
    settings.show();
    save(settings.window(), "settings-window");
    // A model downloading from a slow host, its progress shown; closing the window stops it.
    {
        test::ModelHost host(-1, 300000);
        host.publish("ggml-small.en.bin", 3000000);
        setenv("VAK_MODEL_BASE_URL", host.url().c_str(), 1);
        settings.modelPicked(settings.modelPopup()->findData(QString("small.en")));
        EXPECT_TRUE(waitUntil([&] { return settings.modelProgress()->value() > 200; }));
        save(settings.window(), "settings-model-download");
        settings.window()->close();
        EXPECT_TRUE(waitUntil([&] { return !settings.downloadingModel(); }));
        unsetenv("VAK_MODEL_BASE_URL");
    }

    QMessageBox* alert =
        showFirstRunAlert(ui_text::firstRunText(54, TranscribedOn::ThisComputer, false));
    save(alert, "first-run-alert");
    alert->close();

    for (const std::string& path : written) {
        const auto size = fileSize(path);
        EXPECT_TRUE(size && *size > 2000) << path;
    }
}

TEST_F(OnScreen, TheHudDemoAnimatesThePillAndEndsOnTime) {
    UIController ui = controller();
    setenv("VAK_DEMO_SECS", "3.6", 1);
    std::string caption;
    double tallestBar = 0;
    bool shown = false;
    // Mid-sentence the bars move; three seconds in, the demo picks the professional mode.
    QTimer::singleShot(2000, [&] {
        shown = ui.pill().panel()->isVisible();
        for (double h : ui.pill().waveform()->model().heights())
            tallestBar = std::max(tallestBar, h);
    });
    QTimer::singleShot(3300, [&] { caption = ui.pill().captionText(); });
    const auto start = SteadyClock::now();
    EXPECT_EQ(runHudDemo(ui), 0);
    const double took = secondsSince(start);
    unsetenv("VAK_DEMO_SECS");
    EXPECT_GE(took, 3.5);
    EXPECT_LT(took, 6);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(std::string(HudDemo::sampleSentence()).starts_with(caption));
    EXPECT_GT(caption.size(), 40u); // about fifteen words in 3.3 s
    EXPECT_EQ(ui.selectedMode(), DeliverMode::professional);
    EXPECT_GT(tallestBar, 4.0);
}

} // namespace
} // namespace vak
