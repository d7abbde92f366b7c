#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

bool isValidUtf8(std::string_view bytes);
// Replaces every ill-formed sequence with U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

// User-perceived characters (extended grapheme clusters): "👍🏽" and "é" as e + U+0301 are one
// each.
std::size_t graphemeCount(std::string_view text);
std::vector<std::string> graphemes(std::string_view text);

// Locale-independent full case mapping ("ß" upper-cases to "SS").
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);

std::u32string toUtf32(std::string_view text);
std::string fromUtf32(std::u32string_view text);
std::string fromCodePoint(char32_t cp);

// Character classes for trimming.
enum class CharClass {
    Blanks,                // space and tab
    Whitespace,            // Unicode space separators and tab
    WhitespaceAndNewlines, // the above plus line and paragraph breaks
};
bool isInClass(char32_t cp, CharClass charClass);

std::string trim(std::string_view text, CharClass charClass = CharClass::WhitespaceAndNewlines);
// Trims any of the code points in `chars` from both ends.
std::string trimChars(std::string_view text, std::u32string_view chars);

} // namespace vak
