#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace vak {

// How the trigger key talks: a tap toggles recording, a press held past the hold threshold
// records until the release; TALK_MODE picks one or both.
enum class TalkMode { Tap, Auto, Hold };

struct TalkModeName {
    TalkMode mode;
    std::string_view name;  // as written in the configuration
    std::string_view label; // as the settings window shows it
};

// Every talk mode, in the order the settings window lists them.
inline constexpr std::array<TalkModeName, 3> TALK_MODES = {{
    {TalkMode::Auto, "auto", "Tap to toggle, or hold to talk"},
    {TalkMode::Tap, "tap", "Tap to start and to stop"},
    {TalkMode::Hold, "hold", "Hold while you speak"},
}};

// The mode of a configuration name, in any letter case.
std::optional<TalkMode> talkModeFromName(std::string_view name);
std::string_view talkModeName(TalkMode mode);

} // namespace vak
