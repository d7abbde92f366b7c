#pragma once

#include "platform/key_monitor.h"
#include "platform/linux/key_translation.h"

#include <memory>

namespace vak {

// The global monitor on X11: XInput 2.2 raw key and button events from the root window, which
// arrive whatever window has the focus and whoever grabs the keyboard, without taking anything
// from other applications. Keys are translated to the virtual codes and flags of the trigger
// table (key_translation.h); buttons 4–7 count as scrolling, the others as mouse presses.
//
// The monitor reads on its own X connection and thread and hands every event to the main queue.
// When the display goes away it stops and logs once. Trust means: $DISPLAY reachable and
// XInput 2.2 present. Secure input is never reported: X11 cannot tell without grabbing the
// keyboard, and a grab at every tap disturbs the focused application.
class XInputKeyMonitor final : public KeyMonitor {
  public:
    XInputKeyMonitor();
    ~XInputKeyMonitor() override; // stops and joins the reading thread

    bool isTrusted(bool prompt) override;
    bool secureInputActive() override;
    bool start(InputEventHandler handler) override;
    std::string accessName() override { return "keyboard access"; }
    std::optional<std::uint16_t> triggerCodeForKey(std::uint32_t nativeKey) override {
        return triggerCodeForKeysym(nativeKey);
    }

    struct Reader;

  private:
    std::unique_ptr<Reader> reader_;
};

} // namespace vak
