#pragma once

#include "foundation/deliver_mode.h"

#include <optional>
#include <string>
#include <string_view>

namespace vak {

// Which writing mode the user picks in which application, learned from the picks on the
// recording pill. The file (~/.dictation/mode-usage) holds one "app<TAB>mode" line per pick,
// oldest first.

// Appends one pick; the file keeps its newest 500 lines once it passes 1,000. An empty app
// records nothing.
void recordModePick(const std::string& path, std::string_view app, DeliverMode mode);

// The mode with at least 3 of this app's picks among the newest 200 lines and at least 60 % of
// them; nothing otherwise, or when the winning name is no mode's.
std::optional<DeliverMode> learnedModeFor(const std::string& path, std::string_view app);

} // namespace vak
