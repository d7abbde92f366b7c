#include "platform/panel_window.h"

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

namespace vak {

namespace {

xcb_connection_t* x11Connection() {
#if QT_CONFIG(xcb)
    if (auto* x11 = qGuiApp != nullptr
                        ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                        : nullptr) {
        return x11->connection();
    }
#endif
    return nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

} // namespace

// X11's window-manager hints (Qt's own flags already say "never give it the focus" and "do not
// activate it when shown"); off X11 the compositor's rules keep the panel where it is.
void markFloatingPanel(std::uintptr_t nativeWindow) {
    xcb_connection_t* c = x11Connection();
    if (c == nullptr || nativeWindow == 0) return;
    const auto id = static_cast<xcb_window_t>(nativeWindow);
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP");

    const std::uint32_t everyDesktop = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1,
                        &everyDesktop);

    // Kept alongside what Qt itself puts there (it adds "above" for stay-on-top windows).
    std::vector<xcb_atom_t> states;
    const auto cookie = xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 64);
    if (std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(c, cookie, nullptr), &std::free);
        reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        states.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
    }
    for (const char* name : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE",
                             "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        const xcb_atom_t wanted = atom(c, name);
        if (wanted != XCB_ATOM_NONE &&
            std::find(states.begin(), states.end(), wanted) == states.end())
            states.push_back(wanted);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(states.size()), states.data());
    xcb_flush(c);
}

bool compositingActive() {
    xcb_connection_t* c = x11Connection();
    if (c == nullptr) return true; // other platforms compose windows themselves
    const xcb_atom_t selection = atom(c, "_NET_WM_CM_S0");
    if (selection == XCB_ATOM_NONE) return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr),
        &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

} // namespace vak
