#pragma once

#include "platform/frontmost_app.h"

#include <memory>

namespace vak {

class WaylandClient;

// The active application through the wlroots foreign-toplevel protocol (sway, Hyprland,
// Wayfire, labwc, river; not GNOME or KDE Plasma): the compositor tells every client each
// window's app_id and which one is activated, so the answer is kept up to date without asking.
class ForeignToplevelApp final : public FrontmostApp {
  public:
    // Nothing when the compositor does not offer the protocol.
    static std::shared_ptr<ForeignToplevelApp> create(std::shared_ptr<WaylandClient> client);
    ~ForeignToplevelApp() override;

    // Which window is active is known; whether none is, is not told apart from not knowing.
    FocusedApp focused() override;

    struct State;

  private:
    ForeignToplevelApp() = default;
    std::shared_ptr<WaylandClient> client_;
    std::shared_ptr<State> state_;
};

} // namespace vak
