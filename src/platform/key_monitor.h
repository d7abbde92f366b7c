#pragma once

#include "foundation/trigger_keys.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vak {

// What the global monitor saw another application receive.
enum class InputEventKind {
    FlagsChanged, // a modifier key went down or up; `flags` hold the state after the change
    KeyDown,      // any other key went down
    MouseDown,    // a mouse button was pressed
    Scroll,       // the scroll wheel moved
};

// The virtual key code of Escape.
inline constexpr std::uint16_t ESCAPE_KEY_CODE = 53;
// The code of a key that has no virtual code of its own (it can only count as other activity).
inline constexpr std::uint16_t UNKNOWN_KEY_CODE = 0xFFFF;

struct InputEvent {
    InputEventKind kind = InputEventKind::KeyDown;
    std::uint16_t keyCode = UNKNOWN_KEY_CODE; // for FlagsChanged and KeyDown
    std::uint64_t flags = 0; // modifier flags after the event (masks and bits of trigger_keys.h)
    // When it happened on the window system's clock (X server milliseconds); 0 when unknown.
    // The same press reaches our own windows with the same time, which tells ours apart.
    std::uint32_t time = 0;

    // What happened, whenever it did.
    bool operator==(const InputEvent& other) const {
        return kind == other.kind && keyCode == other.keyCode && flags == other.flags;
    }
};

using InputEventHandler = std::function<void(const InputEvent&)>;

// The system-wide key and mouse monitor, and the two questions about input access that go with
// it. It watches without grabbing: other applications still get every event.
//
// Implementations: XInput2 raw events on Linux, a global event monitor on macOS, a scripted fake
// for tests. Every call may come from any thread; events reach the handler on the main queue,
// in the order they happened.
class KeyMonitor {
  public:
    KeyMonitor() = default;
    virtual ~KeyMonitor() = default;
    KeyMonitor(const KeyMonitor&) = delete;
    KeyMonitor& operator=(const KeyMonitor&) = delete;

    // Whether the process may watch global input (the accessibility permission; on Linux a
    // reachable X display with XInput2). `prompt` asks the platform to show its permission
    // prompt when the answer is no, where there is one.
    virtual bool isTrusted(bool prompt) = 0;
    // Whether another program holds the keyboard exclusively (a password field's secure input),
    // so the monitor may miss keys. Asking must not disturb the focused application; where the
    // platform cannot tell without doing so (X11), the answer is false.
    virtual bool secureInputActive() = 0;
    // Starts delivering events to `handler`; false when the monitor cannot run. Once started it
    // runs for the life of the monitor; a second call replaces the handler.
    virtual bool start(InputEventHandler handler) = 0;
    // What the user does so that input may be watched, when the platform's standing words do not
    // say it (a group to join, a rule to install); empty otherwise. Asked after isTrusted().
    virtual std::string accessHelp() { return {}; }
    // What the platform calls that access, for the log: "Accessibility" on macOS, "keyboard
    // access" on Linux, where no setting of that name exists.
    virtual std::string accessName() { return "Accessibility"; }
    // The trigger-key code of the modifier key an interface key event names by its native
    // virtual key (a keysym on Linux); nothing for any other key.
    virtual std::optional<std::uint16_t> triggerCodeForKey(std::uint32_t nativeKey) {
        (void)nativeKey;
        return std::nullopt;
    }
};

// The process's monitor. Until one is installed: never trusted, never starts.
std::shared_ptr<KeyMonitor> keyMonitor();
void installKeyMonitor(std::shared_ptr<KeyMonitor> monitor);

} // namespace vak
