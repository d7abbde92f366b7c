#pragma once

#include "platform/key_synth.h"

#include <string_view>

namespace vak {

// The keys of one synthetic shortcut: the left-hand modifiers held around one key press.
struct ChordKeys {
    enum class Key { V, C };
    bool control = true;
    bool shift = false;
    Key key = Key::V;

    bool operator==(const ChordKeys&) const = default;
};

// Ctrl+V and Ctrl+C; Ctrl+Shift+V and Ctrl+Shift+C in a terminal (terminal_apps.h).
ChordKeys chordFor(SyntheticShortcut shortcut, std::string_view appId);

} // namespace vak
