#pragma once

#include "platform/frontmost_app.h"

#include <memory>
#include <string>

namespace vak {

// The active window on KDE Plasma, where KWin tells no unlisted program which window is active:
// a small KWin script, loaded over the session bus (org.kde.kwin.Scripting), calls us back on
// that bus whenever a window is activated, with its resource class, desktop file name, process
// and X11 window id; the last report is the answer. Native and XWayland windows alike are
// seen. The application is named by its resource class (a native window's app id, an X11
// window's WM_CLASS class), else its desktop file name, else its process's executable, all
// lower-cased. The script goes when this object does; one a killed daemon left behind is
// replaced at the next start. Every bus call has a time limit.
class KwinFrontmostApp final : public FrontmostApp {
  public:
    // Nothing, with `why` set, when KWin is not on the session bus or the script does not
    // report within a second.
    static std::shared_ptr<KwinFrontmostApp> create(std::string* why);
    ~KwinFrontmostApp() override;

    FocusedApp focused() override;

    struct Bus;

  private:
    KwinFrontmostApp() = default;
    std::unique_ptr<Bus> bus_;
};

} // namespace vak
