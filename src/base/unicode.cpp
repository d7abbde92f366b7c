#include "base/unicode.h"

#include "base/icu_util.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace vak {

bool isValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int32_t>(bytes.size());
    if (static_cast<std::size_t>(length) != bytes.size()) return false;
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    return toUtf8(fromUtf8(bytes));
}

namespace {

// Character break iterators are costly to create; each thread keeps its own.
icu::BreakIterator* graphemeIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

template <typename Visit>
void forEachGrapheme(std::string_view text, Visit visit) {
    const icu::UnicodeString u = fromUtf8(text);
    icu::BreakIterator* it = graphemeIterator();
    if (it == nullptr) {
        // Without ICU data each code point counts on its own.
        for (std::int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1)) {
            visit(u, i, u.moveIndex32(i, 1));
        }
        return;
    }
    it->setText(u);
    std::int32_t start = it->first();
    for (std::int32_t end = it->next(); end != icu::BreakIterator::DONE;
         start = end, end = it->next()) {
        visit(u, start, end);
    }
}

// Text in which every byte is a character of its own: ASCII without CR (CR LF is one character).
bool simpleAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\r') return false;
    }
    return true;
}

} // namespace

std::size_t graphemeCount(std::string_view text) {
    std::size_t count = 0;
    if (simpleAscii(text)) return text.size(); // the common case, without ICU
    forEachGrapheme(text, [&](const icu::UnicodeString&, std::int32_t, std::int32_t) { ++count; });
    return count;
}

std::vector<std::string> graphemes(std::string_view text) {
    std::vector<std::string> out;
    if (simpleAscii(text)) {
        out.reserve(text.size());
        for (char c : text)
            out.emplace_back(1, c);
        return out;
    }
    forEachGrapheme(text, [&](const icu::UnicodeString& u, std::int32_t start, std::int32_t end) {
        out.push_back(toUtf8(u.tempSubStringBetween(start, end)));
    });
    return out;
}

void graphemeBoundaries(std::string_view text, std::vector<std::size_t>& out) {
    out.clear();
    if (simpleAscii(text)) {
        for (std::size_t i = 0; i <= text.size(); ++i)
            out.push_back(i);
        return;
    }
    icu::BreakIterator* it = graphemeIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    // Iterating the UTF-8 bytes in place keeps this free of allocations; offsets are byte offsets.
    utext_openUTF8(&utext, text.data(), static_cast<std::int64_t>(text.size()), &status);
    if (it != nullptr && U_SUCCESS(status)) it->setText(&utext, status);
    if (it == nullptr || U_FAILURE(status)) {
        const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
        const auto length = static_cast<std::int32_t>(text.size());
        for (std::int32_t i = 0; i < length;) {
            out.push_back(static_cast<std::size_t>(i));
            U8_FWD_1(s, i, length);
        }
        out.push_back(text.size());
        utext_close(&utext);
        return;
    }
    for (std::int32_t b = it->first(); b != icu::BreakIterator::DONE; b = it->next())
        out.push_back(static_cast<std::size_t>(b));
    // The iterator keeps a shallow clone that is not read again before its next setText.
    utext_close(&utext);
}

std::string toUpper(std::string_view text) {
    icu::UnicodeString u = fromUtf8(text);
    u.toUpper(icu::Locale::getRoot());
    return toUtf8(u);
}

std::string toLower(std::string_view text) {
    icu::UnicodeString u = fromUtf8(text);
    u.toLower(icu::Locale::getRoot());
    return toUtf8(u);
}

std::string upperFirst(std::string_view text) {
    if (text.empty()) return {};
    std::string out;
    out.reserve(text.size() + 2);
    const auto first = static_cast<unsigned char>(text[0]);
    if (first < 0x80) {
        out += first >= 'a' && first <= 'z' ? static_cast<char>(first - 'a' + 'A')
                                            : static_cast<char>(first);
        out += text.substr(1);
        return out;
    }
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    std::int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(s, i, static_cast<std::int32_t>(text.size()), c);
    const auto length = static_cast<std::size_t>(i);
    // An ill-formed lead byte stays as it is.
    out += c < 0 ? std::string(text.substr(0, length)) : toUpper(text.substr(0, length));
    out += text.substr(length);
    return out;
}

std::u32string toUtf32(std::string_view text) {
    std::u32string out;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        out.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return out;
}

char32_t codePointBefore(std::string_view text, std::size_t end, std::size_t& start) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    // A code point is at most four bytes: find a lead byte within reach and decode forward.
    std::size_t lead = end - 1;
    while (lead > 0 && end - lead < 4 && (s[lead] & 0xC0) == 0x80)
        --lead;
    auto i = static_cast<std::int32_t>(lead);
    UChar32 c = 0;
    U8_NEXT(s, i, static_cast<std::int32_t>(end), c);
    if (c >= 0 && static_cast<std::size_t>(i) == end) {
        start = lead;
        return static_cast<char32_t>(c);
    }
    start = end - 1;
    return U'\uFFFD';
}

char32_t codePointAt(std::string_view text, std::size_t offset, std::size_t& next) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    auto i = static_cast<std::int32_t>(offset);
    UChar32 c = 0;
    U8_NEXT(s, i, static_cast<std::int32_t>(text.size()), c);
    next = static_cast<std::size_t>(i);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

std::string fromCodePoint(char32_t cp) {
    std::string out;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return out;
}

std::string fromUtf32(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text)
        out += fromCodePoint(cp);
    return out;
}

bool isInClass(char32_t cp, CharClass charClass) {
    if (cp == U' ' || cp == U'\t') return true;
    if (charClass == CharClass::Blanks) return false;
    const auto type = u_charType(static_cast<UChar32>(cp));
    if (type == U_SPACE_SEPARATOR) return true;
    if (charClass == CharClass::Whitespace) return false;
    return (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || type == U_LINE_SEPARATOR ||
           type == U_PARAGRAPH_SEPARATOR;
}

namespace {

// Walks in from both ends over code points in the set; the middle is never decoded or copied.
// An ill-formed byte reads as U+FFFD.
template <typename Pred>
std::string_view trimmedView(std::string_view text, Pred inSet) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t begin = 0;
    while (begin < length) {
        std::int32_t next = begin;
        UChar32 c = 0;
        U8_NEXT(s, next, length, c);
        if (!inSet(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c))) break;
        begin = next;
    }
    const auto first = static_cast<std::size_t>(begin);
    std::size_t end = text.size();
    while (end > first) {
        std::size_t previous = end;
        const char32_t c = codePointBefore(text, end, previous);
        if (previous < first || !inSet(c)) break;
        end = previous;
    }
    return text.substr(first, end - first);
}

} // namespace

std::string trim(std::string_view text, CharClass charClass) {
    return std::string(
        trimmedView(text, [charClass](char32_t cp) { return isInClass(cp, charClass); }));
}

std::string trimChars(std::string_view text, std::u32string_view chars) {
    return std::string(
        trimmedView(text, [chars](char32_t cp) { return chars.find(cp) != chars.npos; }));
}

std::string_view trimPunctuation(std::string_view text) {
    // U+FFFD is a symbol, so an ill-formed byte ends the punctuation too.
    return trimmedView(text, [](char32_t cp) { return u_ispunct(static_cast<UChar32>(cp)) != 0; });
}

} // namespace vak
