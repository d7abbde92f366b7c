#pragma once

#include "platform/desktop_shortcut.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// GNOME's custom keybindings: the list in org.gnome.settings-daemon.plugins.media-keys
// custom-keybindings, each entry a path of the relocatable custom-keybinding schema (name,
// command, binding), acted on by gnome-settings-daemon's media-keys daemon. Ours is the entry
// whose path ends in the shortcut's id: added to the list once, the user's entries untouched.
// Written with gsettings (a child process with a time limit each); a chord that GNOME's window
// manager, shell or another shortcut already binds is not written, as it would never reach us.
class GnomeShortcuts final : public DesktopShortcuts {
  public:
    // Runs `argv` and gives its standard output, or nothing when it failed. The real one runs
    // gsettings; tests give their own.
    using Runner = std::function<std::optional<std::string>(const std::vector<std::string>&)>;

    GnomeShortcuts();
    explicit GnomeShortcuts(Runner run) : run_(std::move(run)) {}

    // "GNOME" where the media-keys daemon runs on the session bus and its settings are
    // installed.
    std::string desktop() override;
    ShortcutResult add(const DesktopShortcut& shortcut) override;

  private:
    Runner run_;
};

// Helpers of the above, for its tests.
namespace gnome_keys {

// GVariant text: a string in single quotes with its quotes and backslashes escaped, and a list of
// them; and back, for what gsettings prints ("@as []", "['a', \"it's\"]", "'text'").
std::string quoted(std::string_view text);
std::string quotedList(const std::vector<std::string>& items);
std::optional<std::vector<std::string>> parseStrings(std::string_view text);

// The chord as a GTK accelerator ("<Super><Alt>space"), and an accelerator back as a chord
// ("<Primary><Alt>T" is Ctrl+Alt+T), nothing for one that is not a chord.
std::string accelerator(const ShortcutChord& chord);
std::optional<ShortcutChord> parseAccelerator(std::string_view accelerator);

// The command line the media-keys daemon splits as a shell would (without running one).
std::string commandLine(const std::vector<std::string>& argv);

} // namespace gnome_keys

} // namespace vak
