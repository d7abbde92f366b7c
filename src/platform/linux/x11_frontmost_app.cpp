#include "platform/linux/x11_frontmost_app.h"

#include "base/unicode.h"
#include "platform/linux/xcb_connection.h"

#include <algorithm>

namespace vak {

namespace {

// A window hierarchy deeper than this is not a real one.
constexpr int kMaxAncestors = 32;

// The identifier of the application owning `window`: the first of it and its ancestors (focus
// often sits on a child of the top-level window) with _GTK_APPLICATION_ID or WM_CLASS.
std::string applicationOf(XcbConnection& x, std::optional<std::uint32_t> window) {
    for (int depth = 0; window && *window != 0 && *window != x.root() && depth < kMaxAncestors;
         ++depth) {
        if (const auto gtkId = x.property(*window, "_GTK_APPLICATION_ID");
            gtkId && !gtkId->empty()) {
            return toLower(*gtkId);
        }
        if (const auto wmClass = x.property(*window, "WM_CLASS")) {
            if (const auto name = wmClassName(*wmClass)) return toLower(*name);
        }
        window = x.parent(*window);
    }
    return {};
}

// Whether a window manager runs that keeps _NET_ACTIVE_WINDOW: its check window exists and names
// itself, and it lists the property as supported. Its word on the active window then counts,
// including "none" (0, the property absent, or a window that has been destroyed since).
bool managerTracksActiveWindow(XcbConnection& x) {
    const auto check = x.property32(x.root(), "_NET_SUPPORTING_WM_CHECK");
    if (!check || *check == 0 || x.property32(*check, "_NET_SUPPORTING_WM_CHECK") != check)
        return false;
    const auto supported = x.property32List(x.root(), "_NET_SUPPORTED");
    return std::find(supported.begin(), supported.end(), x.atom("_NET_ACTIVE_WINDOW")) !=
           supported.end();
}

} // namespace

std::optional<std::string> wmClassName(std::string_view property) {
    const auto end = property.find('\0');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view rest = property.substr(end + 1);
    rest = rest.substr(0, rest.find('\0'));
    if (rest.empty()) return std::nullopt;
    return std::string(rest);
}

X11FrontmostApp::X11FrontmostApp() = default;
X11FrontmostApp::~X11FrontmostApp() = default;

FocusedApp X11FrontmostApp::focused() {
    std::lock_guard lock(mutex_);
    if (x_ && !x_->healthy()) x_.reset();
    if (!x_) x_ = XcbConnection::open();
    if (!x_) return {};
    XcbConnection& x = *x_;
    const auto focus = x.keyboardFocus();
    if (managerTracksActiveWindow(x)) {
        const auto active = x.property32(x.root(), "_NET_ACTIVE_WINDOW");
        if (!active || *active == 0 || !x.windowExists(*active)) return {false, {}};
        std::string id = applicationOf(x, active);
        if (id.empty() && focus && focus->kind == XcbConnection::KeyboardFocus::Kind::Window)
            id = applicationOf(x, focus->window);
        return {true, id, WindowProtocol::X11};
    }
    // No such window manager: the keyboard focus tells, and where it follows the pointer, the
    // window under the pointer gets the keys.
    if (!focus) return {};
    switch (focus->kind) {
    case XcbConnection::KeyboardFocus::Kind::Nowhere:
        return {false, {}};
    case XcbConnection::KeyboardFocus::Kind::UnderPointer: {
        const auto under = x.windowUnderPointer();
        if (!under) return {false, {}};
        return {true, applicationOf(x, under), WindowProtocol::X11};
    }
    case XcbConnection::KeyboardFocus::Kind::Window:
        return {true, applicationOf(x, focus->window), WindowProtocol::X11};
    }
    return {};
}

FocusedApp XWaylandFrontmostApp::focused() {
    FocusedApp app = x11_.focused();
    app.anyWindow = true;
    return app;
}

} // namespace vak
