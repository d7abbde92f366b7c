#pragma once

#include <memory>
#include <string>

namespace vak {

// Which display protocol the focused window speaks: on a Wayland desktop a synthesiser may reach
// only one kind (XTest types into XWayland's windows alone).
enum class WindowProtocol { Unknown, X11, Wayland };

// The window that has the keyboard focus, as far as the platform can tell.
struct FocusedApp {
    // False when no window has the focus (every window minimised or closed): keys typed now go
    // nowhere. True when some window has it, or when the platform cannot tell.
    bool anyWindow = true;
    // Its application's identifier, lower-cased; empty when unknown or there is no window.
    std::string identifier;
    WindowProtocol protocol = WindowProtocol::Unknown;
};

// Which application the user is working in: the one whose window is active.
//
// Implementations: the active X11 window's application id on Linux, the frontmost application's
// bundle identifier on macOS, a settable fake for tests. Main thread only.
class FrontmostApp {
  public:
    FrontmostApp() = default;
    virtual ~FrontmostApp() = default;
    FrontmostApp(const FrontmostApp&) = delete;
    FrontmostApp& operator=(const FrontmostApp&) = delete;

    virtual FocusedApp focused() = 0;

    // The active application's identifier, lower-cased ("org.gnome.terminal", "firefox");
    // empty when there is no active application or it cannot be told.
    std::string identifier() { return focused().identifier; }
};

// The process's frontmost-application query. Until one is installed: always empty.
std::shared_ptr<FrontmostApp> frontmostApp();
void installFrontmostApp(std::shared_ptr<FrontmostApp> app);

} // namespace vak
