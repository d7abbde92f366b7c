#include "foundation/talk_mode.h"

#include "base/unicode.h"

namespace vak {

std::optional<TalkMode> talkModeFromName(std::string_view name) {
    const std::string lower = toLower(name);
    for (const auto& row : TALK_MODES) {
        if (row.name == lower) return row.mode;
    }
    return std::nullopt;
}

std::string_view talkModeName(TalkMode mode) {
    for (const auto& row : TALK_MODES) {
        if (row.mode == mode) return row.name;
    }
    return TALK_MODES.front().name;
}

} // namespace vak
