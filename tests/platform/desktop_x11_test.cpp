// The X11 desktop adapters end to end on a private Xvfb display: the key
// monitor, synthetic shortcuts, the clipboard and the frontmost application,
// with a paste-target window from tools/ on the receiving side.
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

using test::clipboardFormats;
using test::PasteTarget;
using test::settle;
using test::waitUntil;

struct DesktopX11 : ::testing::Test {
    void SetUp() override {
        if (const auto why = test::QtDesktop::missing(); !why.empty())
            GTEST_SKIP() << "no private X display: " << why;
        ASSERT_TRUE(hands.ready());
    }
    // What a key monitor started now reports.
    std::vector<InputEvent> events;
    XInputKeyMonitor monitor;
    bool watch() {
        return monitor.start([this](const InputEvent& event) { events.push_back(event); });
    }
    test::Hands hands;
};

TEST_F(DesktopX11, TheKeyMonitorSeesModifierTapsKeysAndTheMouse) {
    EXPECT_TRUE(monitor.isTrusted(true));
    ASSERT_TRUE(watch());
    constexpr std::uint64_t kRightCmd = 0x10 | COMMAND_MASK;
    constexpr std::uint64_t kShiftOption = 0x22 | SHIFT_MASK | OPTION_MASK;
    hands.key(keysym::Super_R, true);
    hands.tap(0x61 /* a */);
    hands.key(keysym::Super_R, false);
    hands.tap(keysym::Escape);
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
        {InputEventKind::FlagsChanged, 58, kShiftOption},
        {InputEventKind::MouseDown, UNKNOWN_KEY_CODE, kShiftOption},
        {InputEventKind::Scroll, UNKNOWN_KEY_CODE, kShiftOption},
        {InputEventKind::FlagsChanged, 58, 0x02 | SHIFT_MASK},
        {InputEventKind::FlagsChanged, 56, 0},
    };
    waitUntil([&] { return events.size() >= expected.size(); }, 5);
    settle(0.1); // nothing more may come
    EXPECT_EQ(events, expected);
}

// The key a PC keyboard has for each trigger code.
std::uint32_t keysymFor(std::uint16_t code) {
    const std::map<std::uint16_t, std::uint32_t> keys = {
        {54, keysym::Super_R}, {55, keysym::Super_L},   {61, keysym::Alt_R},
        {58, keysym::Alt_L},   {62, keysym::Control_R}, {59, keysym::Control_L},
        {60, keysym::Shift_R}, {56, keysym::Shift_L}};
    return keys.at(code);
}

TEST_F(DesktopX11, EveryTriggerKeyTappedOnTheDisplayTogglesChordsAndVetoes) {
    KeyRecognizer* recogniser = nullptr;
    ASSERT_TRUE(monitor.start([&](const InputEvent& event) {
        events.push_back(event);
        if (recogniser != nullptr) recogniser->handle(event);
    }));
    for (const TriggerKey& trigger : TRIGGER_KEYS) {
        const std::uint32_t sym = keysymFor(trigger.code);
        const std::uint32_t option = sym == keysym::Alt_L ? keysym::Alt_R : keysym::Alt_L;
        const std::uint32_t shift = sym == keysym::Shift_L ? keysym::Shift_R : keysym::Shift_L;
        test::RecordingKeyActions actions;
        KeyRecognizer keys(actions, TriggerSettings{trigger.code, 0});
        recogniser = &keys;
        // Each press, with the number of events the monitor reports for it.
        const auto run = [&](std::size_t count, const std::function<void()>& press) {
            events.clear();
            actions.calls.clear();
            press();
            waitUntil([&] { return events.size() >= count; }, 5);
            return actions.calls;
        };
        using Calls = std::vector<std::string>;
        EXPECT_EQ(run(2, [&] { hands.tap(sym); }), Calls{"start"}) << trigger.name;
        EXPECT_EQ(run(2, [&] { hands.tap(sym); }), Calls{"stop"}) << trigger.name;
        const auto chord = [&](std::uint32_t held) {
            hands.key(held, true);
            hands.tap(sym);
            hands.key(held, false);
        };
        EXPECT_EQ(run(4, [&] { chord(option); }), Calls{"command"}) << trigger.name;
        EXPECT_EQ(run(4, [&] { chord(shift); }), Calls{}) << trigger.name;
        EXPECT_EQ(run(3,
                      [&] {
                          hands.key(sym, true);
                          hands.tap(0x61 /* a */);
                          hands.key(sym, false);
                      }),
                  Calls{})
            << trigger.name;
    }
    recogniser = nullptr;
}

TEST_F(DesktopX11, ATapLeavesTheFocusedWindowsFocusAlone) {
    PasteTarget target;
    ASSERT_TRUE(target.ready());
    // The recogniser asks the monitor about secure input at every tap.
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
    // A keyboard grab would have sent it a focus-out and a focus-in.
    EXPECT_EQ(focusEvents, 0);
}

TEST_F(DesktopX11, InsertPastesIntoTheFocusedWindowAndRestoresRichClipboardContents) {
    PasteTarget target({"--clipboard", "text/plain", "earlier words", "--clipboard", "text/html",
                        "<i>earlier</i> words", "--clipboard", "application/x-vak-test",
                        "vak-bytes"});
    ASSERT_TRUE(target.ready());
    auto inserter =
        TextInserter::create(test::QtDesktop::queue(),
                             {std::make_shared<QtPasteboard>(), std::make_shared<XTestKeySynth>(),
                              std::make_shared<X11FrontmostApp>(),
                              std::make_shared<QtPasteboard>(QtPasteboard::Selection::Primary)});
    inserter->insert("VAK_TEST_INSERT_OK");
    EXPECT_TRUE(waitUntil([&] { return target.received() == "VAK_TEST_INSERT_OK"; }))
        << "received: " << target.received();
    settle(TextInserter::kRestoreDelaySeconds + 0.3);
    auto formats = clipboardFormats();
    for (const ClipboardMarker& marker : TRANSIENT_MARKERS)
        EXPECT_EQ(formats.count(std::string(marker.type)), 0u) << marker.type;
    EXPECT_EQ(formats["text/plain"], "earlier words");
    EXPECT_EQ(formats["text/html"], "<i>earlier</i> words");
    EXPECT_EQ(formats["application/x-vak-test"], "vak-bytes");
    EXPECT_EQ(target.received(), "VAK_TEST_INSERT_OK");

    // Text we set ourselves is marked, so clipboard managers skip it.
    QtPasteboard board;
    const long before = board.changeCount();
    board.setText("dictated words");
    EXPECT_GT(board.changeCount(), before);
    formats = clipboardFormats();
    EXPECT_EQ(formats["text/plain"], "dictated words");
    EXPECT_EQ(formats["x-kde-passwordManagerHint"], "secret");
    EXPECT_EQ(formats["application/x-copyq-hidden"], "1");
}

TEST_F(DesktopX11, ASnapshotKeepsWhatFitsTheSizeCap) {
    const std::string big(4000, 'x');
    PasteTarget target({"--clipboard", "text/plain", "small", "--clipboard", "text/html", big,
                        "--clipboard", "application/x-vak-test", "also small"});
    ASSERT_TRUE(target.ready());
    const auto bytesOf = [](const PasteboardSnapshot& snapshot) {
        std::map<std::string, std::string> kept;
        EXPECT_EQ(snapshot.size(), 1u);
        for (const auto& item : snapshot)
            kept.insert(item.types.begin(), item.types.end());
        return kept;
    };
    QtPasteboard::Limits limits;
    limits.maxBytes = 1000;
    auto kept = bytesOf(QtPasteboard(QtPasteboard::Selection::Clipboard, limits).snapshot());
    EXPECT_EQ(kept.count("text/html"), 0u);
    EXPECT_EQ(kept["text/plain"], "small");
    EXPECT_EQ(kept["application/x-vak-test"], "also small");
    EXPECT_EQ(bytesOf(QtPasteboard().snapshot())["text/html"],
              big); // uncapped, the whole of it
}

TEST_F(DesktopX11, CopyTakesTheSelectionOfTheFocusedWindow) {
    PasteTarget target({"--select", "selected words"});
    ASSERT_TRUE(target.ready());
    QtPasteboard board;
    const long before = board.changeCount();
    ASSERT_TRUE(XTestKeySynth().send(*STANDARD_PASTE_STYLE.copy));
    EXPECT_TRUE(waitUntil([&] { return board.changeCount() != before; }));
    EXPECT_EQ(board.text(), "selected words");
    // A snapshot holds its text, and none of X11's housekeeping targets.
    const auto snapshot = board.snapshot();
    ASSERT_EQ(snapshot.size(), 1u);
    bool hasPlain = false;
    for (const auto& [type, data] : snapshot.front().types) {
        if (type == "text/plain") hasPlain = data == "selected words";
        EXPECT_FALSE(type.empty() || std::isupper(static_cast<unsigned char>(type[0]))) << type;
    }
    EXPECT_TRUE(hasPlain);
}

TEST_F(DesktopX11, ChordsAreTypedAsGivenAndWithoutTheUsersModifiers) {
    ASSERT_TRUE(watch());
    XTestKeySynth keys;
    ASSERT_TRUE(keys.send(pasteStyleFor("org.gnome.terminal").paste));
    ASSERT_TRUE(keys.send(*pasteStyleFor("firefox").copy));
    // Option still held from a chord: lifted for the shortcut, pressed again
    // after it.
    hands.key(keysym::Alt_L, true);
    ASSERT_TRUE(keys.send(*pasteStyleFor("firefox").copy));
    hands.key(keysym::Alt_L, false);
    ASSERT_TRUE(keys.send(pasteStyleFor("xterm").paste));
    ASSERT_TRUE(keys.send(KeyChord{.key = ChordKey::V, .command = true}));
    constexpr std::uint64_t kCtrl = 0x01 | CONTROL_MASK;
    constexpr std::uint64_t kCommand = 0x08 | COMMAND_MASK;
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
        {InputEventKind::FlagsChanged, 56, 0x02 | SHIFT_MASK},
        {InputEventKind::KeyDown, UNKNOWN_KEY_CODE, 0x02 | SHIFT_MASK}, // Insert
        {InputEventKind::FlagsChanged, 56, 0},
        {InputEventKind::FlagsChanged, 55, kCommand}, // the logo key
        {InputEventKind::KeyDown, UNKNOWN_KEY_CODE, kCommand},
        {InputEventKind::FlagsChanged, 55, 0},
    };
    waitUntil([&] { return events.size() >= expected.size(); }, 5);
    EXPECT_EQ(events, expected);
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
    // No window manager: the focus tells, and a stray _NET_ACTIVE_WINDOW is not
    // believed.
    EXPECT_EQ(frontmost.identifier(), "paste-target");
    setActive(0);
    EXPECT_TRUE(frontmost.focused().anyWindow);
    // A GTK application id wins over WM_CLASS, lower-cased.
    const std::string gtkId = "Org.Example.PasteTarget";
    hands.setProperty(target.window(), "_GTK_APPLICATION_ID", x.atom("UTF8_STRING"), 8,
                      gtkId.data(), static_cast<std::uint32_t>(gtkId.size()));
    EXPECT_EQ(frontmost.identifier(), "org.example.pastetarget");

    // A window manager that keeps the active window (here the target plays its
    // check window): its word counts, and 0, a destroyed window or no property at
    // all mean no focus.
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
