// The interface on a private Xvfb display: the floating panels leave the keyboard focus with
// the application being dictated into, the pill's buttons act on the first click, the HUD demo
// runs, and screenshots of every panel go to the build's artifacts folder for a person to see.
#include "base/files.h"
#include "foundation/process_values.h"
#include "platform/linux/xinput_key_monitor.h"
#include "producer/producer_link.h"
#include "session/key_recognizer.h"
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
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <cstdlib>
#include <filesystem>

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
    void TearDown() override {
        if (auto open = ChoicePanel::current()) open->resolve("keep");
    }

    UIController controller() {
        return UIController(&session, test::QtDesktop::queue(), cfg(), UiServices::fromProcess());
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
    // The pill is dark and rounded: a corner shows through, the middle does not.
    EXPECT_EQ(idle.pixelColor(1, 1).alpha(), 0);
    const QColor middle = idle.pixelColor(idle.width() / 2, idle.height() / 2);
    EXPECT_GT(middle.alpha(), 200);
    EXPECT_LT(middle.lightness(), 60);
    const QPoint doneAt = ui.pill().finishButton()->geometry().center();
    const QColor done = idle.pixelColor(doneAt.x() - 30, doneAt.y() - 12);
    EXPECT_GT(done.green(), done.red() + 40); // the green Done button

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
    producerInboxEvent(producerInboxPath(), "session-start", now);
    test::writeFixture(
        producerOutboxPath(),
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
