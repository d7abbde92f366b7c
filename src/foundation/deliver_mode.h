#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vak {

// The writing modes: what happens to a formatted transcript before it is pasted. The numeric
// value is the mode's tag wherever a mode is kept in memory.
enum class DeliverMode : std::uint8_t {
    ask = 0,          // decided at delivery
    summarize = 1,    // a structured digest
    raw = 2,          // pasted as spoken (stored as "normal")
    professional = 3, // a clean message
    agent = 4,        // a brief for a coding agent
    expand = 5,       // the request with its open questions
};

int tag(DeliverMode mode);
// The name in the configuration file and the rewriting code: "ask", "summarize", "normal",
// "professional", "agent", "expand".
std::string_view configValue(DeliverMode mode);
// The name shown in menus: "Ask", "Summarize", "Normal", "Professional", "AI Agent", "AI Extend".
std::string_view label(DeliverMode mode);
// What the mode does, for tooltips and the mode explainer; paragraphs are separated by "\n\n".
std::string_view example(DeliverMode mode);

namespace deliver_mode {

// Declaration order.
inline constexpr std::array<DeliverMode, 6> allCases = {
    DeliverMode::ask,          DeliverMode::summarize, DeliverMode::raw,
    DeliverMode::professional, DeliverMode::agent,     DeliverMode::expand};
// The modes the pill offers, in its order; "ask" is offered separately.
inline constexpr std::array<DeliverMode, 5> pickable = {DeliverMode::professional,
                                                        DeliverMode::summarize, DeliverMode::raw,
                                                        DeliverMode::agent, DeliverMode::expand};

// The mode of a configuration value, compared exactly: "normal" is raw; "ask", "raw", other
// spellings and unknown words are ask (the configuration loader normalises before this).
DeliverMode fromConfig(std::string_view value);
// The mode a menu item's label names; nothing for an unknown title.
std::optional<DeliverMode> fromLabel(std::string_view label);

} // namespace deliver_mode

// The default modes the settings window offers, by configuration value.
inline constexpr std::array<std::string_view, 5> SETTINGS_MODES = {"summarize", "professional",
                                                                   "normal", "agent", "expand"};

} // namespace vak
