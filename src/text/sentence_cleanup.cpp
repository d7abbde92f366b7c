#include "text/sentence_cleanup.h"

#include "base/unicode.h"
#include "text/self_corrections.h"
#include "text/spoken_filler.h"
#include "text/spoken_units.h"
#include "text/word_forms.h"

#include <unicode/uchar.h>

namespace vak {

std::vector<std::string> splitIntoSentences(std::string_view text) {
    std::vector<std::string> sentences;
    auto keep = [&](std::string_view sentence) {
        // Line breaks go too: a selection that ends in one must not end its last sentence.
        std::string trimmed = trimChars(sentence, U" \t\r\n");
        if (!trimmed.empty()) sentences.push_back(std::move(trimmed));
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '.' && c != '?' && c != '!') continue;
        const std::size_t next = i + 1;
        bool ends = false;
        if (next == text.size()) {
            ends = true;
        } else if (text[next] == ' ') {
            const std::size_t k = text.find_first_not_of(' ', next);
            if (k == std::string_view::npos) {
                ends = true;
            } else {
                std::size_t afterFirst = 0;
                const char32_t first = codePointAt(text, k, afterFirst);
                ends = u_isupper(static_cast<UChar32>(first)) ||
                       u_isdigit(static_cast<UChar32>(first));
            }
        }
        if (!ends) continue;
        keep(text.substr(start, next - start));
        start = next;
    }
    if (start < text.size()) keep(text.substr(start));
    return sentences;
}

std::vector<std::string> cleanedSentences(std::string_view text) {
    // Bytes that are not UTF-8 read as U+FFFD, once, so every stage sees well-formed text.
    const std::string input = isValidUtf8(text) ? std::string(text) : sanitizeUtf8(text);
    std::vector<std::string> cleaned;
    for (const std::string& sentence : splitIntoSentences(input)) {
        std::string s = resolveSelfCorrections(sentence);
        s = stripSpokenFiller(s);
        s = fixContractions(s);
        s = formatSpokenUnits(s);
        s = capitalizeCalendar(s);
        if (!s.empty()) cleaned.push_back(std::move(s));
    }
    return cleaned;
}

} // namespace vak
