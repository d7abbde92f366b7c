#pragma once

#include "platform/frontmost_app.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

class XcbConnection;

// The class part of a WM_CLASS property ("instance\0Class\0"); nothing when it has none.
std::optional<std::string> wmClassName(std::string_view property);

// The active application on X11: the window named by the root's _NET_ACTIVE_WINDOW when a window
// manager keeps it (0, the property absent or a destroyed window then mean no window has the
// focus), else the window holding the keyboard focus (or, where the focus follows the pointer,
// the window under it); then the first of it and its ancestors that carries
// _GTK_APPLICATION_ID, else the class part of WM_CLASS; lower-cased. A window found is an X11 one.
class X11FrontmostApp final : public FrontmostApp {
  public:
    X11FrontmostApp();
    ~X11FrontmostApp() override;

    FocusedApp focused() override;

  private:
    std::mutex mutex_;
    std::unique_ptr<XcbConnection> x_; // opened on first use, again after a failure
};

// The active application in a Wayland session where only XWayland tells it: an X11 window's as
// above; with no X11 window active a native Wayland window may well have the focus, so the
// paste still goes out, to an application that is unknown, through a synthesiser that reaches
// whatever window it is.
class XWaylandFrontmostApp final : public FrontmostApp {
  public:
    FocusedApp focused() override;

  private:
    X11FrontmostApp x11_;
};

} // namespace vak
