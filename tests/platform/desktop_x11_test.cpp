// The X11 desktop adapters end to end on a private Xvfb display: the key monitor, synthetic
// shortcuts, the clipboard and the frontmost application, with a paste-target window from
// tools/ on the receiving side.
#include "base/subprocess.h"
#include "base/time_util.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xcb_connection.h"
#include "platform/linux/xinput_key_monitor.h"
#include "platform/linux/xtest_key_synth.h"
#include "session/text_insertion.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"
#include "ui/qt_main_queue.h"

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <map>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;

// One display and one application object for the whole program (the application is bound to
// its display); under ctest every test is a program of its own, so each gets a fresh display.
class Desktop final : public ::testing::Environment {
  public:
    void SetUp() override {
        xvfb_ = std::make_unique<test::Xvfb>();
        if (!xvfb_->running()) return;
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "vak_desktop_x11_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        queue_ = std::make_unique<QtMainQueue>();
        installMainQueue(queue_.get());
    }
    void TearDown() override {
        installMainQueue(nullptr);
        queue_.reset();
        app_.reset();
        xvfb_.reset();
    }

    static Desktop* instance;
    test::Xvfb* xvfb() { return xvfb_.get(); }
    QtMainQueue& queue() { return *queue_; }

  private:
    std::unique_ptr<test::Xvfb> xvfb_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QtMainQueue> queue_;
};

Desktop* Desktop::instance =
    static_cast<Desktop*>(::testing::AddGlobalTestEnvironment(new Desktop)); // gtest owns it

// Runs the event loop until `done` holds or `seconds` pass; true when it held.
template <typename Done>
bool spinUntil(Done done, double seconds = 10) {
    const auto deadline = deadlineAfter(seconds);
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

// The test's own hands on the display: presses keys and buttons through XTest.
class Hands {
  public:
    Hands() : x_(XcbConnection::open()), map_(x_ ? x_->keyboardMap() : std::nullopt) {}
    bool ready() const { return x_ && map_; }
    XcbConnection& x() { return *x_; }

    std::uint8_t keycode(std::uint32_t sym) const { return map_->keycodeFor(sym).value_or(0); }
    void key(std::uint32_t sym, bool press) {
        xcb_test_fake_input(x_->raw(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode(sym),
                            XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
        x_->sync();
    }
    void button(std::uint8_t number) {
        for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
            xcb_test_fake_input(x_->raw(), type, number, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                                0);
        }
        x_->sync();
    }
    void setProperty(std::uint32_t window, const char* name, std::uint32_t type,
                     std::uint8_t format, const void* data, std::uint32_t count) {
        xcb_change_property(x_->raw(), XCB_PROP_MODE_REPLACE, window, x_->atom(name), type, format,
                            count, data);
        x_->sync();
    }

  private:
    std::unique_ptr<XcbConnection> x_;
    std::optional<KeyboardMap> map_;
};

// A running paste-target window.
class Target {
  public:
    explicit Target(std::vector<std::string> extra = {}) {
        SpawnOptions options;
        options.argv = {VAK_PASTE_TARGET, "--record", record(), "--ready", dir_.file("ready")};
        options.argv.insert(options.argv.end(), extra.begin(), extra.end());
        process_ = Subprocess::spawn(options);
        ready_ = process_ && spinUntil([&] { return !readFixture(dir_.file("ready")).empty(); });
        if (ready_)
            window_ = static_cast<std::uint32_t>(std::stoul(readFixture(dir_.file("ready"))));
    }
    ~Target() {
        if (!process_) return;
        process_->terminate();
        auto watchdog = armWatchdog(process_, 5);
        process_->wait();
        watchdog.cancel();
    }
    bool ready() const { return ready_; }
    std::uint32_t window() const { return window_; }
    std::string record() const { return dir_.file("record"); }
    std::string received() const { return readFixture(record()); }

  private:
    TempDir dir_;
    std::shared_ptr<Subprocess> process_;
    bool ready_ = false;
    std::uint32_t window_ = 0;
};

// The clipboard as another program sees it: type → bytes. Runs the event loop meanwhile, since
// this process may own the clipboard and must answer.
std::map<std::string, std::string> clipboardSeenFromOutside() {
    TempDir dir;
    SpawnOptions options;
    options.argv = {VAK_PASTE_TARGET, "--dump-clipboard", dir.file("dump")};
    auto dumper = Subprocess::spawn(options);
    if (!dumper) return {};
    auto watchdog = armWatchdog(dumper, 20);
    spinUntil([&] { return dumper->hasExited(); }, 25);
    dumper->wait();
    watchdog.cancel();
    std::map<std::string, std::string> formats;
    const std::string text = readFixture(dir.file("dump"));
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const auto tab = line.find('\t');
        const QByteArray bytes =
            QByteArray::fromHex(QByteArray::fromStdString(line.substr(tab + 1)));
        formats[line.substr(0, tab)] = bytes.toStdString();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return formats;
}

struct DesktopX11 : ::testing::Test {
    void SetUp() override {
        if (!Desktop::instance->xvfb()->running()) {
            GTEST_SKIP() << "no private X display: " << Desktop::instance->xvfb()->why();
        }
        ASSERT_TRUE(hands.ready());
    }
    Hands hands;
};

TEST_F(DesktopX11, TheKeyMonitorSeesModifierTapsKeysAndTheMouse) {
    XInputKeyMonitor monitor;
    EXPECT_TRUE(monitor.isTrusted(true));
    std::vector<InputEvent> events;
    ASSERT_TRUE(monitor.start([&](const InputEvent& event) { events.push_back(event); }));
    constexpr std::uint64_t kRightCmd = 0x10 | COMMAND_MASK;
    hands.key(keysym::Super_R, true);
    hands.key(0x61 /* a */, true);
    hands.key(0x61, false);
    hands.key(keysym::Super_R, false);
    hands.key(keysym::Escape, true);
    hands.key(keysym::Escape, false);
    hands.key(keysym::Shift_L, true);
    hands.key(keysym::Alt_L, true);
    hands.button(1);
    hands.button(4);
    hands.key(keysym::Alt_L, false);
    hands.key(keysym::Shift_L, false);
    const std::vector<InputEvent> expected = {
        {InputEventKind::FlagsChanged, 54, kRightCmd},
        {InputEventKind::KeyDown, UNKNOWN_KEY_CODE, kRightCmd},
        {InputEventKind::FlagsChanged, 54, 0},
        {InputEventKind::KeyDown, ESCAPE_KEY_CODE, 0},
        {InputEventKind::FlagsChanged, 56, 0x02 | SHIFT_MASK},
        {InputEventKind::FlagsChanged, 58, 0x22 | SHIFT_MASK | OPTION_MASK},
        {InputEventKind::MouseDown, UNKNOWN_KEY_CODE, 0x22 | SHIFT_MASK | OPTION_MASK},
        {InputEventKind::Scroll, UNKNOWN_KEY_CODE, 0x22 | SHIFT_MASK | OPTION_MASK},
        {InputEventKind::FlagsChanged, 58, 0x02 | SHIFT_MASK},
        {InputEventKind::FlagsChanged, 56, 0},
    };
    spinUntil([&] { return events.size() >= expected.size(); }, 5);
    spinFor(0.1); // nothing more may come
    EXPECT_EQ(events, expected);
}

TEST_F(DesktopX11, SecureInputMeansAnotherClientGrabsTheKeyboard) {
    XInputKeyMonitor monitor;
    EXPECT_FALSE(monitor.secureInputActive());
    // Asking must not leave a grab behind: another client can still grab.
    XcbConnection& x = hands.x();
    const auto grab = [&] {
        std::unique_ptr<xcb_grab_keyboard_reply_t, decltype(&std::free)> reply(
            xcb_grab_keyboard_reply(x.raw(),
                                    xcb_grab_keyboard(x.raw(), 0, x.root(), XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr),
            &std::free);
        return reply ? reply->status : -1;
    };
    ASSERT_EQ(grab(), XCB_GRAB_STATUS_SUCCESS);
    EXPECT_TRUE(monitor.secureInputActive());
    xcb_ungrab_keyboard(x.raw(), XCB_CURRENT_TIME);
    x.sync();
    EXPECT_FALSE(monitor.secureInputActive());
}

TEST_F(DesktopX11, InsertPastesIntoTheFocusedWindowAndRestoresRichClipboardContents) {
    const std::string binary("\x00\x01\xfe\xff binary", 11);
    Target target({"--clipboard", "text/plain", "earlier words", "--clipboard", "text/html",
                   "<i>earlier</i> words", "--clipboard", "application/x-vak-test", "vak-bytes"});
    ASSERT_TRUE(target.ready());
    auto inserter =
        TextInserter::create(Desktop::instance->queue(),
                             {std::make_shared<QtPasteboard>(), std::make_shared<XTestKeySynth>(),
                              std::make_shared<X11FrontmostApp>()});
    inserter->insert("VAK_TEST_INSERT_OK");
    EXPECT_TRUE(spinUntil([&] { return target.received() == "VAK_TEST_INSERT_OK"; }))
        << "received: " << target.received();
    spinFor(TextInserter::kRestoreDelaySeconds + 0.3);
    const auto formats = clipboardSeenFromOutside();
    EXPECT_EQ(formats.count("text/plain"), 1u);
    EXPECT_EQ(formats.count("text/plain") ? formats.at("text/plain") : "", "earlier words");
    EXPECT_EQ(formats.count("text/html") ? formats.at("text/html") : "", "<i>earlier</i> words");
    EXPECT_EQ(formats.count("application/x-vak-test") ? formats.at("application/x-vak-test") : "",
              "vak-bytes");
    EXPECT_EQ(formats.count("x-kde-passwordManagerHint"), 0u);
    EXPECT_EQ(target.received(), "VAK_TEST_INSERT_OK");
}

TEST_F(DesktopX11, TextWeSetIsMarkedSoClipboardManagersSkipIt) {
    QtPasteboard board;
    const long before = board.changeCount();
    board.setText("dictated words");
    EXPECT_GT(board.changeCount(), before);
    const auto formats = clipboardSeenFromOutside();
    EXPECT_EQ(formats.count("text/plain") ? formats.at("text/plain") : "", "dictated words");
    EXPECT_EQ(formats.count("x-kde-passwordManagerHint") ? formats.at("x-kde-passwordManagerHint")
                                                         : "",
              "secret");
}

TEST_F(DesktopX11, ASnapshotKeepsWhatFitsTheSizeCap) {
    const std::string big(4000, 'x');
    Target target({"--clipboard", "text/plain", "small", "--clipboard", "text/html", big,
                   "--clipboard", "application/x-vak-test", "also small"});
    ASSERT_TRUE(target.ready());
    QtPasteboard::Limits limits;
    limits.maxBytes = 1000;
    QtPasteboard board(limits);
    std::map<std::string, std::string> kept;
    const PasteboardSnapshot capped = board.snapshot();
    ASSERT_EQ(capped.size(), 1u);
    for (const auto& [type, data] : capped[0].types)
        kept[type] = data;
    EXPECT_EQ(kept.count("text/html"), 0u);
    EXPECT_EQ(kept["text/plain"], "small");
    EXPECT_EQ(kept["application/x-vak-test"], "also small");
    // Uncapped, the whole of it.
    QtPasteboard whole;
    std::size_t total = 0;
    const PasteboardSnapshot all = whole.snapshot();
    ASSERT_EQ(all.size(), 1u);
    for (const auto& [type, data] : all[0].types)
        total += data.size();
    EXPECT_GE(total, big.size());
}

TEST_F(DesktopX11, CopyTakesTheSelectionOfTheFocusedWindow) {
    Target target({"--select", "selected words"});
    ASSERT_TRUE(target.ready());
    QtPasteboard board;
    const long before = board.changeCount();
    ASSERT_TRUE(XTestKeySynth().send(SyntheticShortcut::Copy, "paste-target"));
    EXPECT_TRUE(spinUntil([&] { return board.changeCount() != before; }));
    EXPECT_EQ(board.text(), "selected words");
    // The other program's change moved the count on; a snapshot holds its text.
    const auto snapshot = board.snapshot();
    ASSERT_EQ(snapshot.size(), 1u);
    bool hasPlain = false;
    for (const auto& [type, data] : snapshot.front().types) {
        if (type == "text/plain") hasPlain = data == "selected words";
        EXPECT_FALSE(type.empty() || std::isupper(static_cast<unsigned char>(type[0])))
            << "X11 housekeeping target kept: " << type;
    }
    EXPECT_TRUE(hasPlain);
}

TEST_F(DesktopX11, ShortcutsAreShiftedForTerminalsAndSentWithoutTheUsersModifiers) {
    XInputKeyMonitor monitor;
    std::vector<InputEvent> events;
    ASSERT_TRUE(monitor.start([&](const InputEvent& event) { events.push_back(event); }));
    XTestKeySynth keys;
    ASSERT_TRUE(keys.send(SyntheticShortcut::Paste, "org.gnome.terminal"));
    ASSERT_TRUE(keys.send(SyntheticShortcut::Copy, "firefox"));
    // Option still held from a chord: lifted for the shortcut, pressed again after it.
    hands.key(keysym::Alt_L, true);
    ASSERT_TRUE(keys.send(SyntheticShortcut::Copy, "firefox"));
    hands.key(keysym::Alt_L, false);
    constexpr std::uint64_t kCtrl = 0x01 | CONTROL_MASK;
    constexpr std::uint64_t kOption = 0x20 | OPTION_MASK;
    const std::vector<InputEvent> expected = {
        {InputEventKind::FlagsChanged, 59, kCtrl},
        {InputEventKind::FlagsChanged, 56, kCtrl | 0x02 | SHIFT_MASK},
        {InputEventKind::KeyDown, UNKNOWN_KEY_CODE, kCtrl | 0x02 | SHIFT_MASK},
        {InputEventKind::FlagsChanged, 56, kCtrl},
        {InputEventKind::FlagsChanged, 59, 0},
        {InputEventKind::FlagsChanged, 59, kCtrl},
        {InputEventKind::KeyDown, UNKNOWN_KEY_CODE, kCtrl},
        {InputEventKind::FlagsChanged, 59, 0},
        {InputEventKind::FlagsChanged, 58, kOption}, // the user's press
        {InputEventKind::FlagsChanged, 58, 0},
        {InputEventKind::FlagsChanged, 59, kCtrl},
        {InputEventKind::KeyDown, UNKNOWN_KEY_CODE, kCtrl},
        {InputEventKind::FlagsChanged, 59, 0},
        {InputEventKind::FlagsChanged, 58, kOption},
        {InputEventKind::FlagsChanged, 58, 0}, // the user's release
    };
    spinUntil([&] { return events.size() >= expected.size(); }, 5);
    EXPECT_EQ(events, expected);
}

TEST_F(DesktopX11, FrontmostIdentifierOfTheFocusedWindow) {
    Target target;
    ASSERT_TRUE(target.ready());
    X11FrontmostApp frontmost;
    // No window manager: the focus tells.
    EXPECT_EQ(frontmost.identifier(), "paste-target");
    // A GTK application id wins over WM_CLASS, lower-cased.
    const std::string gtkId = "Org.Example.PasteTarget";
    hands.setProperty(target.window(), "_GTK_APPLICATION_ID", hands.x().atom("UTF8_STRING"), 8,
                      gtkId.data(), static_cast<std::uint32_t>(gtkId.size()));
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");
    // With a window manager's active window, that window is asked; a stale one falls back to
    // the focus.
    const std::uint32_t root = hands.x().root();
    hands.setProperty(root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 32, &root, 1);
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");
    const std::uint32_t gone = 0x3fffff0;
    hands.setProperty(root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 32, &gone, 1);
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");
    const std::uint32_t window = target.window();
    hands.setProperty(root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 32, &window, 1);
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");
}

} // namespace
} // namespace vak
