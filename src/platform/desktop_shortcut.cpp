#include "platform/desktop_shortcut.h"

#include "base/log.h"
#include "base/unicode.h"
#include "platform/service_slot.h"

#include <array>
#include <cctype>
#include <utility>

namespace vak {

namespace {

// Stands in until a desktop's are installed: no desktop takes a shortcut.
class NoDesktopShortcuts final : public DesktopShortcuts {
  public:
    std::string desktop() override { return {}; }
    ShortcutResult add(const DesktopShortcut&) override {
        return {ShortcutOutcome::Failed, "this desktop takes no shortcuts from programs"};
    }
};

// The named keys a chord may end with: the name the user writes and reads, and its keysym.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kNamedKeys = {{
    {"Space", "space"},
    {"Return", "Return"},
    {"Tab", "Tab"},
    {"Insert", "Insert"},
    {"Home", "Home"},
    {"End", "End"},
    {"PageUp", "Page_Up"},
    {"PageDown", "Page_Down"},
    {"Pause", "Pause"},
    {"Print", "Print"},
}};

// The keysym of the key `word` names: a letter or digit, F1…F24, or one of the named keys.
std::optional<std::string> keysymOf(std::string_view word) {
    if (word.size() == 1 && std::isalnum(static_cast<unsigned char>(word[0]))) return toLower(word);
    const std::string name = toLower(word);
    if (name.size() >= 2 && name.size() <= 3 && name[0] == 'f') {
        int number = 0;
        for (const char c : name.substr(1)) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
            number = number * 10 + (c - '0');
        }
        if (number >= 1 && number <= 24) return "F" + std::to_string(number);
        return std::nullopt;
    }
    for (const auto& [display, keysym] : kNamedKeys) {
        if (toLower(display) == name) return std::string(keysym);
    }
    return std::nullopt;
}

} // namespace

std::optional<ShortcutChord> parseShortcutChord(std::string_view text) {
    ShortcutChord chord;
    bool anyModifier = false;
    std::optional<std::string> key;
    while (!text.empty()) {
        const auto plus = text.find('+');
        std::string_view word = text.substr(0, plus);
        text.remove_prefix(plus == std::string_view::npos ? text.size() : plus + 1);
        while (!word.empty() && word.front() == ' ')
            word.remove_prefix(1);
        while (!word.empty() && word.back() == ' ')
            word.remove_suffix(1);
        if (key) return std::nullopt; // the key comes last
        const std::string name = toLower(word);
        bool* modifier = nullptr;
        if (name == "super" || name == "meta" || name == "win") modifier = &chord.super;
        if (name == "ctrl" || name == "control") modifier = &chord.control;
        if (name == "alt") modifier = &chord.alt;
        if (name == "shift") modifier = &chord.shift;
        if (modifier != nullptr) {
            if (*modifier) return std::nullopt;
            *modifier = anyModifier = true;
            continue;
        }
        key = keysymOf(word);
        if (!key) return std::nullopt;
    }
    if (!anyModifier || !key) return std::nullopt;
    // Shift and a key is typing, not a shortcut.
    if (!chord.super && !chord.control && !chord.alt) return std::nullopt;
    chord.keysym = *key;
    return chord;
}

std::string chordText(const ShortcutChord& chord) {
    std::string text;
    for (const auto& [on, name] :
         {std::pair{chord.super, "Super"}, std::pair{chord.control, "Ctrl"},
          std::pair{chord.alt, "Alt"}, std::pair{chord.shift, "Shift"}}) {
        if (on) text += std::string(name) + "+";
    }
    std::string key = chord.keysym;
    for (const auto& [display, keysym] : kNamedKeys) {
        if (keysym == chord.keysym) key = display;
    }
    if (key.size() == 1)
        key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
    return text + key;
}

std::shared_ptr<DesktopShortcuts> desktopShortcuts() {
    return serviceSlot<DesktopShortcuts, NoDesktopShortcuts>().get();
}

void installDesktopShortcuts(std::shared_ptr<DesktopShortcuts> shortcuts) {
    serviceSlot<DesktopShortcuts, NoDesktopShortcuts>().set(std::move(shortcuts));
}

DesktopShortcut toggleShortcut(const std::string& program, const ShortcutChord& chord) {
    return {.id = "vak-dictate-toggle",
            .name = "Brindle: start or stop dictation",
            .command = {program, "--toggle"},
            .chord = chord};
}

std::string shortcutResultText(const DesktopShortcut& shortcut, const std::string& desktop,
                               const ShortcutResult& result) {
    const std::string chord = chordText(shortcut.chord);
    switch (result.outcome) {
    case ShortcutOutcome::Added:
        return chord + " now starts and stops dictation (a " + desktop + " shortcut)";
    case ShortcutOutcome::AlreadyThere:
        return chord + " already starts and stops dictation (a " + desktop + " shortcut)";
    case ShortcutOutcome::Taken:
        return chord + " is taken by " + result.detail +
               " — set another chord as SHORTCUT_CHORD in the configuration file";
    case ShortcutOutcome::Failed:
        break;
    }
    return "no desktop shortcut added — " + result.detail;
}

ShortcutOffer offerToggleShortcut(const std::string& program, std::string_view chordSetting) {
    ShortcutOffer offer;
    const auto chord = parseShortcutChord(chordSetting);
    const auto shortcuts = desktopShortcuts();
    const std::string desktop = chord ? shortcuts->desktop() : std::string();
    if (!chord) {
        offer.text = "no desktop shortcut added — SHORTCUT_CHORD \"" + std::string(chordSetting) +
                     "\" is not a modifier and a key, such as Super+Alt+Space";
    } else if (desktop.empty()) {
        offer.text = "no desktop shortcut added — this desktop takes none from programs: bind " +
                     program + " --toggle to " + chordText(*chord) + " in its keyboard settings";
    } else {
        const DesktopShortcut shortcut = toggleShortcut(program, *chord);
        const ShortcutResult result = shortcuts->add(shortcut);
        offer.bound = result.outcome == ShortcutOutcome::Added ||
                      result.outcome == ShortcutOutcome::AlreadyThere;
        offer.text = shortcutResultText(shortcut, desktop, result);
    }
    log(offer.bound ? LogLevel::ok : LogLevel::warning, offer.text);
    return offer;
}

} // namespace vak
