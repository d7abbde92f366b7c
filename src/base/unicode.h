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
// Byte offsets where user-perceived characters begin, followed by text.size(). Fills `out`, reusing
// its capacity, so a caller that keeps the vector allocates nothing once it is big enough.
void graphemeBoundaries(std::string_view text, std::vector<std::size_t>& out);

// Locale-independent full case mapping ("ß" upper-cases to "SS").
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);
// The text with its first character in upper case and the rest as it was.
std::string upperFirst(std::string_view text);

std::u32string toUtf32(std::string_view text);
// The code point that ends at byte offset `end` (> 0) of `text`; `start` is set to where it
// begins. An ill-formed byte reads as U+FFFD on its own.
char32_t codePointBefore(std::string_view text, std::size_t end, std::size_t& start);
// The code point that begins at byte offset `offset` (< text.size()); `next` is set to where the
// following one begins. An ill-formed byte reads as U+FFFD on its own.
char32_t codePointAt(std::string_view text, std::size_t offset, std::size_t& next);
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
// Trims punctuation (Unicode general category P: . , ! ? " ' ( ) - and the like) from both ends;
// the result is a view into `text`. Symbols such as $ or + are not punctuation.
std::string_view trimPunctuation(std::string_view text);

} // namespace vak
