#pragma once

#include <memory>
#include <string>

namespace vak {

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

    // The active application's identifier, lower-cased ("org.gnome.terminal", "firefox");
    // empty when there is no active application or it cannot be told.
    virtual std::string identifier() = 0;
};

// The process's frontmost-application query. Until one is installed: always empty.
std::shared_ptr<FrontmostApp> frontmostApp();
void installFrontmostApp(std::shared_ptr<FrontmostApp> app);

} // namespace vak
