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

// The active application on X11: the window named by the root's _NET_ACTIVE_WINDOW (set by the
// window manager), or without one the window holding the keyboard focus; then the first of it
// and its ancestors that carries _GTK_APPLICATION_ID, else the class part of WM_CLASS;
// lower-cased.
class X11FrontmostApp final : public FrontmostApp {
  public:
    X11FrontmostApp();
    ~X11FrontmostApp() override;

    std::string identifier() override;

  private:
    std::mutex mutex_;
    std::unique_ptr<XcbConnection> x_; // opened on first use, again after a failure
};

} // namespace vak
