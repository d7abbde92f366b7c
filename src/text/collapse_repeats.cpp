#include "text/collapse_repeats.h"

#include "base/log.h"
#include "base/regex.h"
#include "base/unicode.h"

#include <vector>

namespace vak {

namespace {

std::vector<std::string_view> splitOnSpaces(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t space = text.find(' ', pos);
        const std::size_t end = space == std::string_view::npos ? text.size() : space;
        if (end > pos) words.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return words;
}

std::string comparable(std::string_view word) {
    const std::string_view core = trimPunctuation(word);
    for (char c : core) {
        if (static_cast<unsigned char>(c) >= 0x80) return toLower(core);
    }
    std::string lowered(core);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

// More copies than this in a row count as a loop, by phrase length.
std::size_t copyLimit(std::size_t phraseWords) {
    if (phraseWords == 1) return 5;
    if (phraseWords == 2) return 4;
    return 3;
}

// The byte length of `word` (ASCII letters) at `at`, matched with the patterns' case folding;
// 0 when it is not there.
std::size_t foldedWordAt(std::string_view text, std::size_t at, std::string_view word) {
    std::size_t pos = at;
    for (char letter : word) {
        if (pos >= text.size()) return 0;
        std::size_t next = 0;
        if (patternFold(codePointAt(text, pos, next)) != static_cast<char32_t>(letter)) return 0;
        pos = next;
    }
    return pos - at;
}

// Whether `copy` (a word as written) appears at `at`, compared with the patterns' case folding.
std::size_t foldedCopyAt(std::string_view text, std::size_t at, std::string_view copy) {
    std::size_t pos = at;
    for (std::size_t k = 0; k < copy.size();) {
        if (pos >= text.size()) return 0;
        std::size_t nextInCopy = 0;
        std::size_t next = 0;
        if (patternFold(codePointAt(copy, k, nextInCopy)) !=
            patternFold(codePointAt(text, pos, next)))
            return 0;
        k = nextInCopy;
        pos = next;
    }
    return pos - at;
}

std::size_t skipPatternSpace(std::string_view text, std::size_t at) {
    while (at < text.size()) {
        std::size_t next = 0;
        if (!isPatternSpace(codePointAt(text, at, next))) break;
        at = next;
    }
    return at;
}

// Where the run of copies of the word at [start, end) ends, or `end` when no copy follows.
std::size_t stutterRunEnd(std::string_view text, std::size_t start, std::size_t end) {
    const std::string_view word = text.substr(start, end - start);
    for (;;) {
        const std::size_t copyStart = skipPatternSpace(text, end);
        if (copyStart == end) return end;
        const std::size_t length = foldedCopyAt(text, copyStart, word);
        if (length == 0 || !isPatternWordBoundary(text, copyStart + length)) return end;
        end = copyStart + length;
    }
}

std::string collapseStutters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t next = 0;
        codePointAt(text, pos, next);
        if (!isPatternWordBoundary(text, pos)) {
            out.append(text, pos, next - pos);
            pos = next;
            continue;
        }
        std::size_t runEnd = 0;
        std::size_t wordEnd = 0;
        for (std::string_view word : STUTTER_WORDS) {
            const std::size_t length = foldedWordAt(text, pos, word);
            if (length == 0) continue;
            const std::size_t end = stutterRunEnd(text, pos, pos + length);
            if (end == pos + length) continue; // no copy: the next word may still stutter
            wordEnd = pos + length;
            runEnd = end;
            break;
        }
        if (runEnd == 0) {
            out.append(text, pos, next - pos);
            pos = next;
            continue;
        }
        out.append(text, pos, wordEnd - pos);
        pos = runEnd;
    }
    return out;
}

std::string collapseLoops(std::string_view text) {
    const std::vector<std::string_view> words = splitOnSpaces(text);
    if (words.size() < 4) return std::string(text);

    std::vector<std::string> keys;
    keys.reserve(words.size());
    for (std::string_view word : words)
        keys.push_back(comparable(word));

    auto sameGroup = [&](std::size_t a, std::size_t b, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            if (keys[a + k] != keys[b + k]) return false;
        }
        return true;
    };

    std::string out;
    out.reserve(text.size());
    auto emit = [&](std::string_view word) {
        if (!out.empty()) out += ' ';
        out += word;
    };

    bool collapsed = false;
    const std::size_t count = words.size();
    std::size_t i = 0;
    while (i < count) {
        std::size_t advance = 0;
        for (std::size_t n = 1; n <= 6 && i + 2 * n <= count; ++n) {
            std::size_t copies = 1;
            while (i + (copies + 1) * n <= count && sameGroup(i, i + copies * n, n))
                ++copies;
            if (copies > copyLimit(n)) {
                for (std::size_t k = 0; k < n; ++k)
                    emit(words[i + k]);
                advance = copies * n;
                collapsed = true;
                break;
            }
        }
        if (advance == 0) {
            emit(words[i]);
            advance = 1;
        }
        i += advance;
    }
    if (collapsed) log(LogLevel::warning, "collapsed a repetition loop in the transcript");
    return out;
}

} // namespace

std::string collapseRepeats(std::string_view text, Repeats kind) {
    return kind == Repeats::loops ? collapseLoops(text) : collapseStutters(text);
}

} // namespace vak
