#pragma once

#include <string>
#include <string_view>

namespace vak {

// System prompts of the model-backed rewrites. Each is lines joined by "\n", with no final line
// break.

// Restructures a dictated ramble into a complete document for an AI assistant.
extern const std::string_view POLISH_INSTRUCTION;
// Removes speech noise and keeps the speaker's own words.
extern const std::string_view POLISH_TEXT_INSTRUCTION;
// Applies a spoken editing instruction to selected text (command mode).
extern const std::string_view COMMAND_INSTRUCTION;

// What a rewrite prompt gets appended for the house style `style` (STYLE): nothing when it is
// empty.
std::string contextSuffix(std::string_view style);

} // namespace vak
