#include "platform/linux/xtest_key_synth.h"

#include "platform/linux/terminal_apps.h"
#include "platform/linux/xcb_connection.h"

#include <algorithm>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace vak {

namespace {

void fakeKey(XcbConnection& x, std::uint8_t keycode, bool press) {
    xcb_test_fake_input(x.raw(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME,
                        XCB_WINDOW_NONE, 0, 0, 0);
}

} // namespace

XTestKeySynth::XTestKeySynth() = default;
XTestKeySynth::~XTestKeySynth() = default;

bool XTestKeySynth::send(SyntheticShortcut shortcut, std::string_view appId) {
    std::lock_guard lock(mutex_);
    if (x_ && !x_->healthy()) x_.reset();
    if (!x_) x_ = XcbConnection::open();
    if (!x_) return false;
    XcbConnection& x = *x_;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(x.raw(), &xcb_test_id);
    if (xtest == nullptr || xtest->present == 0) return false;
    const auto map = x.keyboardMap();
    if (!map) return false;
    const auto control = map->keycodeFor(keysym::Control_L);
    const auto shift = map->keycodeFor(keysym::Shift_L);
    const auto letter =
        map->keycodeFor(shortcut == SyntheticShortcut::Paste ? keysym::v : keysym::c);
    const bool terminal = isTerminalApp(appId);
    if (!control || !letter || (terminal && !shift)) return false;

    // Modifiers the user still holds (Option after the command-mode chord) would turn the
    // shortcut into another one: lift them for its duration.
    std::vector<std::uint8_t> lifted;
    if (const auto held = x.heldKeys()) {
        for (const std::uint8_t code : x.modifierKeycodes()) {
            if ((*held)[code] && std::find(lifted.begin(), lifted.end(), code) == lifted.end()) {
                lifted.push_back(code);
            }
        }
    }
    for (const std::uint8_t code : lifted)
        fakeKey(x, code, false);
    fakeKey(x, *control, true);
    if (terminal) fakeKey(x, *shift, true);
    fakeKey(x, *letter, true);
    fakeKey(x, *letter, false);
    if (terminal) fakeKey(x, *shift, false);
    fakeKey(x, *control, false);
    for (const std::uint8_t code : lifted)
        fakeKey(x, code, true);
    return x.sync();
}

} // namespace vak
