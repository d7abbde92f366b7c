#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vak {

// Modifier flags of a key event: these device-independent masks (set while either key of the
// modifier is held) plus the per-side bits of the table below.
inline constexpr std::uint64_t SHIFT_MASK = 0x20000;
inline constexpr std::uint64_t CONTROL_MASK = 0x40000;
inline constexpr std::uint64_t OPTION_MASK = 0x80000;
inline constexpr std::uint64_t COMMAND_MASK = 0x100000;

// A modifier key that can start dictation or the producer session.
struct TriggerKey {
    std::uint16_t code = 0; // virtual key code
    std::uint64_t bit = 0;  // the key's own (per-side) flag in an event's modifier flags
    std::uint64_t mask = 0; // the device-independent mask its press sets too
    std::string_view name;  // shown in the log and the settings window

    bool operator==(const TriggerKey&) const = default;
};

// The eight keys the configuration accepts for HOTKEY and PRODUCER_KEY, in the order the
// settings window lists them.
inline constexpr std::array<TriggerKey, 8> TRIGGER_KEYS = {{
    {54, 0x0010, COMMAND_MASK, "Right Command"},
    {55, 0x0008, COMMAND_MASK, "Left Command"},
    {61, 0x0040, OPTION_MASK, "Right Option"},
    {58, 0x0020, OPTION_MASK, "Left Option"},
    {62, 0x2000, CONTROL_MASK, "Right Control"},
    {59, 0x0001, CONTROL_MASK, "Left Control"},
    {60, 0x0004, SHIFT_MASK, "Right Shift"},
    {56, 0x0002, SHIFT_MASK, "Left Shift"},
}};

// The row of TRIGGER_KEYS with `code`; Right Command when no row has it.
const TriggerKey& triggerKey(std::uint16_t code);

// What `flags` say is held besides `key` itself: without its own bit, and without its mask
// unless the modifier's other key holds it too (Right Shift held through a Left Shift tap).
std::uint64_t flagsBesides(const TriggerKey& key, std::uint64_t flags);

} // namespace vak
