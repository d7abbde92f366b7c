#pragma once

#include "platform/key_monitor.h"
#include "platform/key_synth.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace vak {

// How an X modifier keysym appears in the virtual key codes and flags of the key monitor.
struct ModifierKeyInfo {
    std::uint16_t code = 0;      // virtual key code
    std::uint64_t deviceBit = 0; // the per-side bit
    std::uint64_t mask = 0;      // the device-independent mask (0 for Caps Lock)
};

// Super_R → Right Command (54), Super_L → Left Command (55), Alt_R and ISO_Level3_Shift → Right
// Option (61), Alt_L → Left Option (58), Control_R/L → 62/59, Shift_R/L → 60/56, Caps_Lock → 57.
// Nothing for every other keysym.
std::optional<ModifierKeyInfo> modifierForKeysym(std::uint32_t keysym);
// The trigger key (a row of TRIGGER_KEYS) of a modifier keysym; nothing for every other keysym.
std::optional<std::uint16_t> triggerCodeForKeysym(std::uint32_t keysym);
// The kernel's key codes (linux/input-event-codes.h) a chord presses, modifiers first, in the
// order a keyboard sends them down: for the keyboards that type key positions.
std::vector<std::uint16_t> evdevKeysOf(const KeyChord& chord);
// The virtual code of a non-modifier key: 53 for Escape, UNKNOWN_KEY_CODE for the rest.
std::uint16_t virtualCodeForKeysym(std::uint32_t keysym);
// The keysym a shortcut's key types: v, c or Insert.
std::uint32_t keysymForChordKey(ChordKey key);

// Turns raw X key presses and releases into monitor events, keeping the set of modifier keys
// held so that every modifier change carries the complete flags after it. Non-modifier keys
// give a key-down on press and nothing on release. One thread at a time.
class KeyTranslator {
  public:
    // Sets the primary keysym of every keycode (index = keycode).
    void setKeysyms(const std::array<std::uint32_t, 256>& keysyms);
    // Marks a key as already held (the state found when the monitor starts).
    void setHeld(std::uint8_t keycode, bool held);

    // `time` is the event's server time, passed on in the event.
    std::optional<InputEvent> press(std::uint8_t keycode, std::uint32_t time = 0);
    std::optional<InputEvent> release(std::uint8_t keycode, std::uint32_t time = 0);
    // The modifier flags of the keys held now.
    std::uint64_t flags() const;

  private:
    std::array<std::uint32_t, 256> keysyms_{};
    std::array<bool, 256> held_{};
};

} // namespace vak
