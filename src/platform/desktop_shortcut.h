#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// A modifier+key chord, as the user writes it: "Super+Alt+Space". Desktops bind no modifier
// alone, so a chord always has a key besides at least one modifier.
struct ShortcutChord {
    bool super = false; // Super, Meta, the Windows key
    bool control = false;
    bool alt = false;
    bool shift = false;
    // The key by its X keysym name: "space", "d", "F9", "Page_Up".
    std::string keysym;

    bool operator==(const ShortcutChord&) const = default;
};

// "Super+Alt+Space" (any case, "Ctrl", "Control", "Meta" and "Win" understood); nothing for a
// modifier alone, a key alone, an unknown word or a key no desktop binds.
std::optional<ShortcutChord> parseShortcutChord(std::string_view text);
// The chord as the user reads it: "Super+Alt+Space".
std::string chordText(const ShortcutChord& chord);

// A keyboard shortcut of the desktop's own that runs a command: where the program cannot watch
// the keyboard, the desktop does.
struct DesktopShortcut {
    std::string id;   // names our shortcut among the user's: "vak-dictate-toggle"
    std::string name; // what the desktop's settings show
    std::vector<std::string> command;
    ShortcutChord chord;
};

enum class ShortcutOutcome {
    Added,        // written now
    AlreadyThere, // the same shortcut was there: nothing written
    Taken,        // the desktop binds the chord to something else: nothing written
    Failed,       // the desktop's settings could not be read or written
};

struct ShortcutResult {
    ShortcutOutcome outcome = ShortcutOutcome::Failed;
    // For the log and the settings window: what holds the chord, or why it failed.
    std::string detail;
};

// Adds shortcuts to the desktop's own keyboard settings, beside the user's, never replacing
// theirs.
//
// Implementations: GNOME's custom keybindings (gsettings) on Linux; a stand-in that offers
// nothing elsewhere. Any thread; blocks for at most a few seconds.
class DesktopShortcuts {
  public:
    DesktopShortcuts() = default;
    virtual ~DesktopShortcuts() = default;
    DesktopShortcuts(const DesktopShortcuts&) = delete;
    DesktopShortcuts& operator=(const DesktopShortcuts&) = delete;

    // The desktop that takes shortcuts from us ("GNOME"); empty when none does here.
    virtual std::string desktop() = 0;
    // Adds `shortcut`, or finds it already there (the same id), updated to this command and
    // chord. A second call adds nothing.
    virtual ShortcutResult add(const DesktopShortcut& shortcut) = 0;
};

// The process's desktop shortcuts. Until some are installed: no desktop takes any.
std::shared_ptr<DesktopShortcuts> desktopShortcuts();
void installDesktopShortcuts(std::shared_ptr<DesktopShortcuts> shortcuts);

// The shortcut that starts and stops a dictation: `program` --toggle on `chord`.
DesktopShortcut toggleShortcut(const std::string& program, const ShortcutChord& chord);

// What the log and the settings window say about an offer's result.
std::string shortcutResultText(const DesktopShortcut& shortcut, const std::string& desktop,
                               const ShortcutResult& result);

struct ShortcutOffer {
    bool bound = false; // the chord runs the toggle now
    std::string text;   // what happened, for the user
};

// Adds the toggle shortcut, `program` --toggle on the chord `chordSetting` names (SHORTCUT_CHORD),
// to the desktop here, and logs what happened in one line.
ShortcutOffer offerToggleShortcut(const std::string& program, std::string_view chordSetting);

} // namespace vak
