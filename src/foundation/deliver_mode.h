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
enum class DeliverMode : std::uint8_t {
    ask = 0,          // decided at delivery
    summarize = 1,    // a structured digest
    raw = 2,          // pasted as spoken (stored as "normal")
    professional = 3, // a clean message
    agent = 4,        // a brief for a coding agent
    expand = 5,       // the request with its open questions
};

// Everything known about one mode. Adding a mode is one row of the table in deliver_mode.cpp
// plus its local renderer (text/local_modes.cpp, which the compiler makes handle every mode).
struct DeliverModeInfo {
    DeliverMode mode;
    // The name in the configuration file, the mode memory and the rewriting code.
    std::string_view configValue;
    // The name shown in menus and the mode explainer.
    std::string_view label;
    // What the mode does, for tooltips and the mode explainer; paragraphs separated by "\n\n".
    std::string_view example;
    // Place on the recording pill's mode menu, from 1; 0: not offered there.
    int pillPosition;
    // Place in the settings window's default-mode list, from 1; 0: not offered there.
    int settingsPosition;
    // Its title in that list.
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
