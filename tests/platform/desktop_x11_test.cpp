// The X11 desktop adapters on a private Xvfb display: the key monitor, synthetic shortcuts, the
// clipboard and the frontmost application, with a paste-target window from tools/ on the
// receiving side.
#include "foundation/trigger_keys.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/terminal_families.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xinput_key_monitor.h"
#include "platform/linux/xtest_key_synth.h"
#include "session/key_recognizer.h"
#include "session/text_insertion.h"
#include "support/desktop_fixtures.h"
#include "support/qt_desktop.h"
#include "support/recording_key_actions.h"

#include <cstdlib>
#include <map>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace vak {
namespace {

[[maybe_unused]] const auto* const desktop =
    ::testing::AddGlobalTestEnvironment(new test::QtDesktop); // gtest owns it

using test::PasteTarget;
using test::settle;
using test::waitUntil;

constexpr std::uint64_t kCtrl = 0x01 | CONTROL_MASK;
constexpr std::uint64_t kShift = 0x02 | SHIFT_MASK;
constexpr std::uint64_t kOption = 0x20 | OPTION_MASK;

const auto changed = [](std::uint16_t code, std::uint64_t flags) {
    return InputEvent{InputEventKind::FlagsChanged, code, flags};
};
const auto keyDown = [](std::uint64_t flags) {
    return InputEvent{InputEventKind::KeyDown, UNKNOWN_KEY_CODE, flags};
};

struct DesktopX11 : ::testing::Test {
    void SetUp() override {
        if (const auto why = test::QtDesktop::missing(); !why.empty())
            GTEST_SKIP() << "no private X display: " << why;
        ASSERT_TRUE(hands.ready());
        ASSERT_TRUE(monitor.start([this](const InputEvent& event) { events.push_back(event); }));
    }
    // What the key monitor reported, once `expected` has had its time to come in full.
    void expectEvents(const std::vector<InputEvent>& expected) {
        waitUntil([&] { return events.size() >= expected.size(); }, 5);
        settle(0.1); // nothing more may come
        EXPECT_EQ(events, expected);
    }
    std::vector<InputEvent> events;
    XInputKeyMonitor monitor;
    test::Hands hands;
};

TEST_F(DesktopX11, TheKeyMonitorSeesEveryTriggerKeyTheMouseAndTheShortcutsWeType) {
    EXPECT_TRUE(monitor.isTrusted(true));
    // Each trigger key tapped alone, in the table's order, gives its code and bits.
    const std::array<std::uint32_t, 8> syms = {
        keysym::Super_R,   keysym::Super_L,   keysym::Alt_R,   keysym::Alt_L,
        keysym::Control_R, keysym::Control_L, keysym::Shift_R, keysym::Shift_L};
    std::vector<InputEvent> expected;
    for (std::size_t i = 0; i < syms.size(); ++i) {
        hands.tap(syms[i]);
        expected.push_back(
            changed(TRIGGER_KEYS[i].code, TRIGGER_KEYS[i].bit | TRIGGER_KEYS[i].mask));
        expected.push_back(changed(TRIGGER_KEYS[i].code, 0));
    }
    // A key down carries the modifiers held, and so do the mouse's buttons and wheel.
    constexpr std::uint64_t kRightCmd = 0x10 | COMMAND_MASK;
    hands.key(keysym::Super_R, true);
    hands.tap(0x61 /* a */);
    hands.button(1);
    hands.button(4);
    hands.key(keysym::Super_R, false);
    hands.tap(keysym::Escape);
    expected.insert(expected.end(), {changed(54, kRightCmd),
                                     keyDown(kRightCmd),
                                     {InputEventKind::MouseDown, UNKNOWN_KEY_CODE, kRightCmd},
                                     {InputEventKind::Scroll, UNKNOWN_KEY_CODE, kRightCmd},
                                     changed(54, 0),
                                     {InputEventKind::KeyDown, ESCAPE_KEY_CODE, 0}});
    expectEvents(expected);

    // Each family's shortcut as given; an Option the user still holds from a chord is lifted for
    // the shortcut and pressed again after it.
    events.clear();
    XTestKeySynth keys;
    ASSERT_TRUE(keys.send(pasteStyleFor("org.gnome.terminal").paste));
    hands.key(keysym::Alt_L, true);
    ASSERT_TRUE(keys.send(*pasteStyleFor("firefox").copy));
    hands.key(keysym::Alt_L, false);
    ASSERT_TRUE(keys.send(pasteStyleFor("xterm").paste));
    ASSERT_TRUE(keys.send(KeyChord{.key = ChordKey::V, .command = true}));
    constexpr std::uint64_t kCommand = 0x08 | COMMAND_MASK;
    expectEvents({
        changed(59, kCtrl), changed(56, kCtrl | kShift), keyDown(kCtrl | kShift),
        changed(56, kCtrl), changed(59, 0),   // Ctrl+Shift+V
        changed(58, kOption), changed(58, 0), // the user's press, lifted
        changed(59, kCtrl), keyDown(kCtrl), changed(59, 0), changed(58, kOption),
        changed(58, 0),                                           // the user's release
        changed(56, kShift), keyDown(kShift), changed(56, 0),     // Shift+Insert
        changed(55, kCommand), keyDown(kCommand), changed(55, 0), // the logo key
    });
}

// The recogniser asks its monitor about secure input at every tap; a keyboard grab
// there would send the focused window a focus-out and a focus-in.
TEST_F(DesktopX11, ATapLeavesTheFocusedWindowsFocusAlone) {
    PasteTarget target;
    ASSERT_TRUE(target.ready());
    auto shared = std::make_shared<XInputKeyMonitor>();
    test::RecordingKeyActions actions;
    KeyRecognizer keys(actions, TriggerSettings{54, 0}, {}, nullptr, shared);
    ASSERT_TRUE(shared->start([&](const InputEvent& event) { keys.handle(event); }));
    const auto watcher = XcbConnection::open();
    ASSERT_TRUE(watcher);
    const std::uint32_t mask = XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(watcher->raw(), target.window(), XCB_CW_EVENT_MASK, &mask);
    watcher->sync();
    hands.tap(keysym::Super_R);
    EXPECT_TRUE(waitUntil([&] { return !actions.calls.empty(); }, 5));
    settle(0.2);
    int focusEvents = 0;
    while (xcb_generic_event_t* event = xcb_poll_for_event(watcher->raw())) {
        const int type = event->response_type & 0x7f;
        if (type == XCB_FOCUS_IN || type == XCB_FOCUS_OUT) ++focusEvents;
        std::free(event);
    }
    EXPECT_EQ(actions.calls, std::vector<std::string>{"start"});
    EXPECT_EQ(focusEvents, 0);
}

// A snapshot keeps what fits its size cap; the paste reaches the focused window and every format
// comes back whole after it; our own text is marked, so clipboard managers skip it.
TEST_F(DesktopX11, InsertPastesIntoTheFocusedWindowAndRestoresRichClipboardContents) {
    const std::string big(4000, 'x');
    PasteTarget target({"--clipboard", "text/plain", "earlier words", "--clipboard", "text/html",
                        big, "--clipboard", "application/x-vak-test", "vak-bytes"});
    ASSERT_TRUE(target.ready());
    QtPasteboard::Limits limits;
    limits.maxBytes = 1000;
    const auto capped = QtPasteboard(QtPasteboard::Selection::Clipboard, limits).snapshot();
    ASSERT_EQ(capped.size(), 1u);
    std::map<std::string, std::string> kept(capped[0].types.begin(), capped[0].types.end());
    EXPECT_EQ(kept.count("text/html"), 0u);
    EXPECT_EQ(kept["text/plain"], "earlier words");
    EXPECT_EQ(kept["application/x-vak-test"], "vak-bytes");

    auto inserter =
        TextInserter::create(test::QtDesktop::queue(),
                             {std::make_shared<QtPasteboard>(), std::make_shared<XTestKeySynth>(),
                              std::make_shared<X11FrontmostApp>(),
                              std::make_shared<QtPasteboard>(QtPasteboard::Selection::Primary)});
    inserter->insert("VAK_TEST_INSERT_OK");
    EXPECT_TRUE(waitUntil([&] { return target.received() == "VAK_TEST_INSERT_OK"; }))
        << "received: " << target.received();
    settle(TextInserter::kRestoreDelaySeconds + 0.3);
    auto formats = test::clipboardFormats();
    for (const ClipboardMarker& marker : TRANSIENT_MARKERS)
        EXPECT_EQ(formats.count(std::string(marker.type)), 0u) << marker.type;
    EXPECT_EQ(formats["text/plain"], "earlier words");
    EXPECT_EQ(formats["text/html"], big);
    EXPECT_EQ(formats["application/x-vak-test"], "vak-bytes");
    EXPECT_EQ(target.received(), "VAK_TEST_INSERT_OK");

    QtPasteboard board;
    board.setText("dictated words");
    formats = test::clipboardFormats();
    EXPECT_EQ(formats["x-kde-passwordManagerHint"], "secret");
    EXPECT_EQ(formats["application/x-copyq-hidden"], "1");
}

TEST_F(DesktopX11, FrontmostApplicationAndWhetherAnythingHasTheFocus) {
    PasteTarget target;
    ASSERT_TRUE(target.ready());
    X11FrontmostApp frontmost;
    XcbConnection& x = hands.x();
    const std::uint32_t root = x.root();
    const auto setActive = [&](std::uint32_t active) {
        hands.setProperty(root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 32, &active, 1);
    };
    // No window manager: the focus tells, and a stray _NET_ACTIVE_WINDOW is not believed.
    EXPECT_EQ(frontmost.identifier(), "paste-target");
    setActive(0);
    EXPECT_TRUE(frontmost.focused().anyWindow);
    // A GTK application id wins over WM_CLASS, lower-cased.
    const std::string gtkId = "Org.Example.PasteTarget";
    hands.setProperty(target.window(), "_GTK_APPLICATION_ID", x.atom("UTF8_STRING"), 8,
                      gtkId.data(), static_cast<std::uint32_t>(gtkId.size()));
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");

    // A window manager that keeps the active window (the target plays its check window): its
    // word counts, and 0, a destroyed window or no property at all mean no focus.
    const std::uint32_t check = target.window();
    hands.setProperty(root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, 32, &check, 1);
    hands.setProperty(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, 32, &check, 1);
    const std::uint32_t supported = x.atom("_NET_ACTIVE_WINDOW");
    hands.setProperty(root, "_NET_SUPPORTED", XCB_ATOM_ATOM, 32, &supported, 1);
    setActive(target.window());
    EXPECT_TRUE(frontmost.focused().anyWindow);
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");
    for (const std::uint32_t active : {std::uint32_t{0}, std::uint32_t{0x3fffff0}}) {
        setActive(active);
        EXPECT_FALSE(frontmost.focused().anyWindow) << active;
        EXPECT_EQ(frontmost.identifier(), "") << active;
    }
    xcb_delete_property(x.raw(), root, x.atom("_NET_ACTIVE_WINDOW"));
    x.sync();
    EXPECT_FALSE(frontmost.focused().anyWindow);

    // Without one, a focus of None means nobody gets the keys.
    xcb_delete_property(x.raw(), root, x.atom("_NET_SUPPORTING_WM_CHECK"));
    xcb_set_input_focus(x.raw(), XCB_INPUT_FOCUS_NONE, XCB_WINDOW_NONE, XCB_CURRENT_TIME);
    x.sync();
    EXPECT_FALSE(frontmost.focused().anyWindow);
}

} // namespace
} // namespace vak
