#pragma once

#include "platform/key_monitor.h"
#include "platform/linux/key_translation.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace vak {

class InputDeviceSource;

// The global monitor on Wayland, where a client sees no keys typed into other windows: the
// kernel's own event nodes of every keyboard and pointer (libevdev finds them and tells their
// kind; the events are read as they come). Keyboards plugged in later are picked up; one that
// goes away releases what it held. Keys map to the same virtual codes and flags as on X11
// (evdev_decoder.h), so the recogniser cannot tell the two apart.
//
// Reading the nodes needs the input group or the project's udev rule (input_access.h); without
// either the monitor is not trusted and accessHelp() says what to do. It reads on its own
// thread and hands every event to the main queue. Nothing is grabbed: the compositor and every
// application still get every key.
class EvdevKeyMonitor final : public KeyMonitor {
  public:
    explicit EvdevKeyMonitor(std::shared_ptr<InputDeviceSource> source);
    ~EvdevKeyMonitor() override; // stops and joins the reading thread

    bool isTrusted(bool prompt) override;
    // A keyboard taken exclusively by another program (EVIOCGRAB) cannot be told from an idle
    // one without grabbing it ourselves: false.
    bool secureInputActive() override { return false; }
    bool start(InputEventHandler handler) override;
    std::string accessHelp() override;
    std::string accessName() override { return "keyboard access"; }
    std::optional<std::uint16_t> triggerCodeForKey(std::uint32_t nativeKey) override {
        return triggerCodeForKeysym(nativeKey);
    }

    // The modifier flags of the keys held now on every keyboard (0 before start).
    std::uint64_t heldFlags() const { return flags_->load(); }

    struct Reader;

  private:
    std::shared_ptr<std::atomic<std::uint64_t>> flags_;
    std::unique_ptr<Reader> reader_;
};

} // namespace vak
