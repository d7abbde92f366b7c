#pragma once

#include "platform/frontmost_app.h"

#include <memory>

namespace vak {

// The active application through the accessibility bus (AT-SPI), where the compositor tells no
// program which window is active (GNOME): the application whose top-level window has the ACTIVE
// state, named by its accessible name (a GTK program's name, a Qt program's application name),
// lower-cased. Only programs that take part are seen: GTK ones always, Qt ones when
// accessibility is on; with none of them active the answer is "a window, unknown". Every call
// on the bus has a time limit. Main thread.
class AtspiFrontmostApp final : public FrontmostApp {
  public:
    // Nothing when the accessibility bus does not answer.
    static std::shared_ptr<AtspiFrontmostApp> create();

    FocusedApp focused() override;

  private:
    AtspiFrontmostApp() = default;
};

} // namespace vak
