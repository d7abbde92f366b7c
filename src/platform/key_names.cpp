#include "platform/key_names.h"

#include "foundation/trigger_keys.h"
#include "platform/host.h"

namespace vak {

namespace {

std::string replacedWords(std::string name, std::span<const KeyWord> words) {
    for (const KeyWord& word : words) {
        if (const auto at = name.find(word.from); at != std::string::npos)
            name.replace(at, word.from.size(), word.to);
    }
    return name;
}

} // namespace

std::string triggerKeyName(std::uint16_t code) {
    return replacedWords(std::string(triggerKey(code).name), host().keyNameWords);
}

std::string triggerKeyShortName(std::uint16_t code) {
    return replacedWords(triggerKeyName(code), host().keyShortNameWords);
}

std::string commandChordName(std::uint16_t code) {
    return std::string(host().commandChordModifier) + "+" + triggerKeyShortName(code);
}

} // namespace vak
