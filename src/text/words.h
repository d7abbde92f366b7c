#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// Words of the writing modes: the pieces of a text between space characters, empty pieces
// dropped. Tabs and line breaks do not separate.
std::vector<std::string_view> splitWords(std::string_view text);
std::size_t countWords(std::string_view text);
// countWords(text) ≥ n, looking only as far as the n-th word.
bool hasAtLeastWords(std::string_view text, std::size_t n);
std::string joinWords(const std::vector<std::string_view>& words);

// The pieces joined with `separator` between them.
std::string join(const std::vector<std::string>& pieces, std::string_view separator);

// True when the text ends with one of the ASCII characters in `chars`.
bool endsWithAnyOf(std::string_view text, std::string_view chars);

} // namespace vak
