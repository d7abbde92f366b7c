#pragma once

#include <memory>
#include <string_view>

namespace vak {

// Where the program's floating panels go, on window managers that ignore the hints a window
// gives about itself (sway: every new window is tiled and focused, a floating one centred).
//
// Implementations: sway's rules and commands through its IPC; elsewhere a stand-in that leaves
// everything to the hints (X11 window managers, GNOME and KDE Plasma follow them). Main thread.
class PanelPlacement {
  public:
    PanelPlacement() = default;
    virtual ~PanelPlacement() = default;
    PanelPlacement(const PanelPlacement&) = delete;
    PanelPlacement& operator=(const PanelPlacement&) = delete;

    // Before the first window titled `title` is shown: it floats above the other windows, on
    // every workspace, without a border and without taking the keyboard focus. Once per title.
    virtual void prepare(std::string_view title) = 0;
    // Moves the shown window titled `title` to (x, y) on the screen. False while the window
    // system does not have that window yet (the caller tries again a moment later); true once
    // moved, or when the window's own placement stands.
    virtual bool place(std::string_view title, int x, int y) = 0;
    // Before the first window titled `title` is shown: it does not take the keyboard focus from
    // the window the user types in, where the window manager ignores the window's own hint.
    virtual void leaveFocusAlone(std::string_view /*title*/) {}
    // Whether the window manager keeps our panels, by these rules. When not, a panel stays out
    // of its care altogether (override-redirect on X11), so it shows even above a full-screen
    // window, which window managers stack above every window they manage.
    virtual bool windowManagerKeepsPanels() const { return false; }
};

// The process's placement. Until one is installed: the windows' own hints.
std::shared_ptr<PanelPlacement> panelPlacement();
void installPanelPlacement(std::shared_ptr<PanelPlacement> placement);

} // namespace vak
