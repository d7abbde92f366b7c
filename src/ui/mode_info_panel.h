#pragma once

#include <functional>
#include <memory>

namespace vak {

class FloatingPanel;
class PanelPlacement;

// The floating explainer of the writing modes, opened from the pill's mode menu: every mode
// with what it does, and a Done button. Built on first show, kept afterwards.
class ModeInfoPanel {
  public:
    explicit ModeInfoPanel(std::shared_ptr<PanelPlacement> placement);
    ~ModeInfoPanel();
    ModeInfoPanel(const ModeInfoPanel&) = delete;
    ModeInfoPanel& operator=(const ModeInfoPanel&) = delete;

    // Shows the panel; `onClose` runs once when it is dismissed.
    void show(std::function<void()> onClose = {});
    // The Done button: hides the panel, then runs the close action.
    void done();
    bool isVisible() const;
    FloatingPanel* panel() const { return panel_.get(); }

  private:
    void build();

    std::shared_ptr<PanelPlacement> placement_;
    std::unique_ptr<FloatingPanel> panel_;
    std::function<void()> onClose_;
};

} // namespace vak
