#include "foundation/trigger_keys.h"

#include <utility>

namespace vak {

namespace {

std::string replaced(std::string text, std::string_view from, std::string_view to) {
    if (const auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

#ifdef __APPLE__
constexpr std::string_view kCommandChordModifier = "Option";
#else
constexpr std::string_view kCommandChordModifier = "Alt";
#endif

} // namespace

const TriggerKey& triggerKey(std::uint16_t code) {
    for (const TriggerKey& key : TRIGGER_KEYS) {
        if (key.code == code) return key;
    }
    return TRIGGER_KEYS.front();
}

std::string triggerKeyName(std::uint16_t code) {
    std::string name(triggerKey(code).name);
#ifndef __APPLE__
    name = replaced(replaced(std::move(name), "Command", "Super"), "Option", "Alt");
#endif
    return name;
}

std::string triggerKeyShortName(std::uint16_t code) {
    std::string name = triggerKeyName(code);
#ifdef __APPLE__
    for (const auto& [word, symbol] :
         {std::pair<std::string_view, std::string_view>{"Command", "⌘"},
          {"Option", "⌥"},
          {"Control", "⌃"},
          {"Shift", "⇧"}}) {
        name = replaced(std::move(name), word, symbol);
    }
#endif
    return name;
}

std::string commandChordName(std::uint16_t code) {
    return std::string(kCommandChordModifier) + "+" + triggerKeyShortName(code);
}

std::uint64_t flagsBesides(const TriggerKey& key, std::uint64_t flags) {
    flags &= ~key.bit;
    for (const TriggerKey& other : TRIGGER_KEYS) {
        if (other.mask == key.mask && (flags & other.bit) != 0) return flags;
    }
    return flags & ~key.mask;
}

} // namespace vak
