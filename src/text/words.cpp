#include "text/words.h"

#include <limits>

namespace vak {

std::vector<std::string_view> splitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

namespace {

// Words counted up to `limit`, so a caller asking for n never reads past the n-th.
std::size_t countWordsUpTo(std::string_view text, std::size_t limit) {
    std::size_t count = 0;
    bool inWord = false;
    for (char c : text) {
        if (c == ' ') {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            if (++count >= limit) break;
        }
    }
    return count;
}

} // namespace

std::size_t countWords(std::string_view text) {
    return countWordsUpTo(text, std::numeric_limits<std::size_t>::max());
}

bool hasAtLeastWords(std::string_view text, std::size_t n) {
    return n == 0 || countWordsUpTo(text, n) >= n;
}

std::string joinWords(const std::vector<std::string_view>& words) {
    std::string out;
    for (std::string_view word : words) {
        if (!out.empty()) out += ' ';
        out += word;
    }
    return out;
}

std::string join(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) out += separator;
        out += pieces[i];
    }
    return out;
}

bool endsWithAnyOf(std::string_view text, std::string_view chars) {
    return !text.empty() && chars.find(text.back()) != std::string_view::npos;
}

} // namespace vak
