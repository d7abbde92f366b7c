#include "platform/linux/xtest_key_synth.h"

#include "platform/linux/key_translation.h"
#include "platform/linux/xcb_connection.h"

#include <algorithm>
#include <utility>
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

XTestKeySynth::XTestKeySynth(bool throughXWayland) : throughXWayland_(throughXWayland) {}
XTestKeySynth::~XTestKeySynth() = default;

bool XTestKeySynth::reaches(const FocusedApp& focus) {
    return !throughXWayland_ || focus.protocol == WindowProtocol::X11;
}

bool XTestKeySynth::send(const KeyChord& chord) {
    std::lock_guard lock(mutex_);
    if (x_ && !x_->healthy()) x_.reset();
    if (!x_) x_ = XcbConnection::open();
    if (!x_) return false;
    XcbConnection& x = *x_;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(x.raw(), &xcb_test_id);
    if (xtest == nullptr || xtest->present == 0) return false;
    const auto map = x.keyboardMap();
    if (!map) return false;
    std::vector<std::uint8_t> modifiers;
    for (const auto& [wanted, sym] :
         {std::pair{chord.control, keysym::Control_L}, std::pair{chord.shift, keysym::Shift_L},
          std::pair{chord.alt, keysym::Alt_L}, std::pair{chord.command, keysym::Super_L}}) {
        if (!wanted) continue;
        const auto code = map->keycodeFor(sym);
        if (!code) return false;
        modifiers.push_back(*code);
    }
    const auto key = map->keycodeFor(keysymForChordKey(chord.key));
    if (!key) return false;

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
    for (const std::uint8_t code : modifiers)
        fakeKey(x, code, true);
    fakeKey(x, *key, true);
    fakeKey(x, *key, false);
    for (auto code = modifiers.rbegin(); code != modifiers.rend(); ++code)
        fakeKey(x, *code, false);
    for (const std::uint8_t code : lifted)
        fakeKey(x, code, true);
    return x.sync();
}

} // namespace vak
