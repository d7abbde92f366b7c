#include "text/sentence_casing.h"

#include "base/unicode.h"
#include "text/words.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vak {

namespace {

char32_t firstCodePoint(std::string_view character) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(character.data());
    const auto length = static_cast<std::int32_t>(character.size());
    std::int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isAbbreviation(std::string_view letters) {
    if (letters.size() > 12) return false; // longer than any entry, even in non-ASCII letters
    const std::string lowered = toLower(letters);
    return std::find(SENTENCE_ABBREVIATIONS.begin(), SENTENCE_ABBREVIATIONS.end(), lowered) !=
           SENTENCE_ABBREVIATIONS.end();
}

} // namespace

std::string capitalizeSentences(std::string_view input, Closing closing) {
    const std::string trimmed =
        closing == Closing::period ? trim(input, CharClass::Blanks) : std::string();
    const std::string_view text = closing == Closing::period ? trimmed : input;
    std::vector<std::size_t> bounds;
    graphemeBoundaries(text, bounds);
    const std::size_t count = bounds.empty() ? 0 : bounds.size() - 1;
    auto character = [&](std::size_t k) {
        return text.substr(bounds[k], bounds[k + 1] - bounds[k]);
    };
    auto isLetterAt = [&](std::size_t k) { return u_isalpha(firstCodePoint(character(k))) != 0; };

    std::string out;
    out.reserve(text.size() + 8);
    bool capitalizeNext = true;
    for (std::size_t k = 0; k < count; ++k) {
        const std::string_view ch = character(k);
        const char32_t c = firstCodePoint(ch);
        if (u_isalpha(c)) {
            if (!capitalizeNext) {
                out += ch;
            } else if (ch.size() == 1 && ch[0] >= 'a' && ch[0] <= 'z') {
                out += static_cast<char>(ch[0] - 'a' + 'A');
            } else {
                out += toUpper(ch);
            }
            capitalizeNext = false;
            continue;
        }
        out += ch;
        if (isLineBreak(c)) {
            capitalizeNext = true;
        } else if (c == U'.' || c == U'!' || c == U'?') {
            if (k + 1 < count && !u_isUWhiteSpace(firstCodePoint(character(k + 1)))) {
                capitalizeNext = false; // 3.5, file.txt, ?!
            } else if (c != U'.') {
                capitalizeNext = true;
            } else {
                // The period rule: look at the run of letters right before it.
                std::size_t start = k;
                while (start > 0 && isLetterAt(start - 1))
                    --start;
                const std::size_t run = k - start;
                const bool initialism = run == 1 && start > 0 && character(start - 1) == ".";
                if (initialism) {
                    capitalizeNext = false;
                } else {
                    const std::string_view letters =
                        text.substr(bounds[start], bounds[k] - bounds[start]);
                    capitalizeNext = !(run > 0 && isAbbreviation(letters));
                }
            }
        } else if (u_isdigit(c)) {
            capitalizeNext = false;
        }
    }
    if (closing == Closing::asWritten || out.empty() || endsWithAnyOf(out, ".?!:")) return out;
    // A trailing comma or semicolon gives way to the period rather than standing before it.
    if (endsWithAnyOf(out, ",;"))
        out.back() = '.';
    else
        out += '.';
    return out;
}

} // namespace vak
