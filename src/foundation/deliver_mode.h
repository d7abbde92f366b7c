#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vak {

// The writing modes: what happens to a formatted transcript before it is pasted. The numeric
// value is the mode's tag wherever a mode is kept in memory. Text naming a mode (the
// configuration, the command line, the mode memory, a menu) is turned into this enum where it
// enters; everything past that point works on the enum.
// "ask" is decided at delivery; "raw" is pasted as spoken (stored as "normal").
enum class DeliverMode : std::uint8_t {
#define MODE(id, tag, value, label, example, pill, settings, title) id = tag,
#include "foundation/deliver_modes.def"
#undef MODE
};

// Everything known about one mode: a row of deliver_modes.def.
struct DeliverModeInfo {
    DeliverMode mode;
    std::string_view configValue;
    std::string_view label;
    std::string_view example;
    int pillPosition;
    int settingsPosition;
    std::string_view settingsTitle;
};

// Every mode, in declaration order.
std::span<const DeliverModeInfo> deliverModes();
const DeliverModeInfo& modeInfo(DeliverMode mode);

int tag(DeliverMode mode);
std::string_view configValue(DeliverMode mode);
std::string_view label(DeliverMode mode);
std::string_view example(DeliverMode mode);

namespace deliver_mode {

// The modes the pill offers, in its order; "ask" is offered separately.
std::vector<DeliverMode> pickable();
// The default modes the settings window offers, in its order.
std::vector<DeliverMode> settingsModes();

// The mode a name written by a person names: any case, "raw" as well as "normal". Nothing for
// any other word. The configuration file and the command line use this.
std::optional<DeliverMode> fromName(std::string_view name);
// The mode of a configuration value as this program writes it, compared exactly: "normal" is
// raw; nothing for anything else, "ask" included (the mode memory never stores it).
std::optional<DeliverMode> fromConfigValue(std::string_view value);
// The mode a menu item's label names; nothing for an unknown title.
std::optional<DeliverMode> fromLabel(std::string_view label);

} // namespace deliver_mode

} // namespace vak
