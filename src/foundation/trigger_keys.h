#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vak {

// A modifier key that can start dictation or the producer session.
struct TriggerKey {
    std::uint16_t code = 0; // virtual key code
    std::uint64_t bit = 0;  // the key's own (per-side) flag in an event's modifier flags
    std::string_view name;  // shown in the log and the settings window

    bool operator==(const TriggerKey&) const = default;
};

// The eight keys the configuration accepts for HOTKEY and PRODUCER_KEY, in the order the
// settings window lists them.
inline constexpr std::array<TriggerKey, 8> TRIGGER_KEYS = {{
    {54, 0x0010, "Right Command"},
    {55, 0x0008, "Left Command"},
    {61, 0x0040, "Right Option"},
    {58, 0x0020, "Left Option"},
    {62, 0x2000, "Right Control"},
    {59, 0x0001, "Left Control"},
    {60, 0x0004, "Right Shift"},
    {56, 0x0002, "Left Shift"},
}};

// The row of TRIGGER_KEYS with `code`; Right Command when no row has it.
const TriggerKey& triggerKey(std::uint16_t code);

} // namespace vak
