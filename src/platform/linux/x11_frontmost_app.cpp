#include "platform/linux/x11_frontmost_app.h"

#include "base/unicode.h"
#include "platform/linux/xcb_connection.h"

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

std::string X11FrontmostApp::identifier() {
    std::lock_guard lock(mutex_);
    if (x_ && !x_->healthy()) x_.reset();
    if (!x_) x_ = XcbConnection::open();
    if (!x_) return {};
    XcbConnection& x = *x_;
    // The window manager's active window, else (no window manager, or a stale id) the window
    // holding the keyboard focus.
    for (const auto start : {x.property32(x.root(), "_NET_ACTIVE_WINDOW"), x.inputFocus()}) {
        if (auto id = applicationOf(x, start); !id.empty()) return id;
    }
    return {};
}

} // namespace vak
