#include "platform/linux/chord_keys.h"

#include "platform/linux/terminal_apps.h"

namespace vak {

ChordKeys chordFor(SyntheticShortcut shortcut, std::string_view appId) {
    return ChordKeys{true, isTerminalApp(appId),
                     shortcut == SyntheticShortcut::Paste ? ChordKeys::Key::V : ChordKeys::Key::C};
}

} // namespace vak
