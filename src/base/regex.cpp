#include "base/regex.h"

#include "base/icu_util.h"
#include "base/log.h"
#include "base/unicode.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace vak {

namespace {

using PatternPtr = std::shared_ptr<const icu::RegexPattern>;

PatternPtr compile(std::string_view pattern, RegexFlags flags) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const uint32_t icuFlags = flags == RegexFlags::CaseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(fromUtf8(pattern), icuFlags, parseError, status));
    if (U_FAILURE(status)) return nullptr;
    return PatternPtr(compiled.release());
}

// Compiled patterns by flags and source. Failures are cached too (as null), so a bad user
// pattern is not recompiled on every call. The cache is cleared when it grows past its bound,
// which only patterns built from user data can make it do.
class PatternCache {
  public:
    PatternPtr get(std::string_view pattern, RegexFlags flags) {
        std::string key;
        key.reserve(pattern.size() + 1);
        key.push_back(static_cast<char>('0' + static_cast<unsigned>(flags)));
        key.append(pattern);
        {
            std::lock_guard lock(mutex_);
            auto it = patterns_.find(key);
            if (it != patterns_.end()) return it->second;
        }
        PatternPtr compiled = compile(pattern, flags);
        std::lock_guard lock(mutex_);
        if (patterns_.size() >= kMaxEntries) patterns_.clear();
        // Another thread may have compiled the same pattern meanwhile; share its copy.
        return patterns_.emplace(std::move(key), std::move(compiled)).first->second;
    }

  private:
    static constexpr std::size_t kMaxEntries = 4096;

    std::mutex mutex_;
    std::unordered_map<std::string, PatternPtr> patterns_;
};

PatternCache& patternCache() {
    // Never destroyed: background threads may still use it while the process exits.
    static auto* cache = new PatternCache();
    return *cache;
}

// A search over UTF-8 text where it lies: a UText reads the bytes in place (ill-formed bytes
// read as U+FFFD) and its native indices are byte offsets, so offsets and groups always refer
// to the text as given, and nothing before the starting offset is converted or scanned.
class Utf8Search {
  public:
    Utf8Search(const PatternPtr& pattern, std::string_view text)
        : pattern_(pattern), text_(text),
          input_(utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()),
                                &status_),
                 &utext_close) {
        if (!pattern_ || U_FAILURE(status_)) return;
        matcher_.reset(pattern_->matcher(status_));
        if (U_FAILURE(status_) || !matcher_) {
            matcher_.reset();
            return;
        }
        matcher_->reset(input_.get());
    }

    // The first match at or after byte offset `from` (a character boundary), then each next
    // one; false at the end, and when ICU gave up (gaveUp() then says so).
    bool find(std::size_t from) {
        if (!matcher_ || from > text_.size()) return false;
        return matcher_->find(static_cast<std::int64_t>(from), status_) && U_SUCCESS(status_);
    }
    bool findNext() { return matcher_ && matcher_->find(status_) && U_SUCCESS(status_); }
    bool matchesWhole() { return matcher_ && matcher_->matches(status_) && U_SUCCESS(status_); }

    // ICU ran out of its backtracking stack (or time): "no match" would be a guess.
    bool gaveUp() const { return matcher_ && U_FAILURE(status_); }
    UErrorCode status() const { return status_; }

    RegexMatch current() {
        RegexMatch match;
        UErrorCode status = U_ZERO_ERROR;
        const std::int32_t groups = matcher_->groupCount();
        match.groups.reserve(static_cast<std::size_t>(groups) + 1);
        for (std::int32_t g = 0; g <= groups; ++g) {
            const std::int64_t start = matcher_->start64(g, status);
            const std::int64_t end = matcher_->end64(g, status);
            if (U_FAILURE(status) || start < 0) {
                match.groups.emplace_back(std::nullopt);
                status = U_ZERO_ERROR;
                continue;
            }
            match.groups.emplace_back(std::string(text_.substr(
                static_cast<std::size_t>(start), static_cast<std::size_t>(end - start))));
        }
        match.begin = static_cast<std::size_t>(matcher_->start64(status));
        match.end = static_cast<std::size_t>(matcher_->end64(status));
        return match;
    }

  private:
    // The matcher points at its pattern without owning it, and the cache may drop the pattern
    // (cleared when full, or a duplicate compiled by a racing thread): hold a reference, declared
    // first so that it is released after the matcher.
    PatternPtr pattern_;
    std::string_view text_;
    UErrorCode status_ = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> input_;
    std::unique_ptr<icu::RegexMatcher> matcher_;
};

// One line for a search or replacement that ICU abandoned part way through.
void reportGaveUp(const icu::RegexPattern& pattern, std::size_t bytes, UErrorCode status,
                  std::string_view consequence) {
    std::string source = toUtf8(pattern.pattern());
    if (source.size() > 60) source = source.substr(0, 57) + "...";
    log(LogLevel::warning, "text pattern " + source + " gave up on " + std::to_string(bytes) +
                               " bytes (" + u_errorName(status) + ") — " +
                               std::string(consequence));
}

std::vector<RegexMatch> allMatchesOf(const PatternPtr& pattern, std::string_view text) {
    std::vector<RegexMatch> matches;
    Utf8Search search(pattern, text);
    for (bool found = search.find(0); found; found = search.findNext())
        matches.push_back(search.current());
    if (search.gaveUp())
        reportGaveUp(*pattern, text.size(), search.status(), "later matches were not seen");
    return matches;
}

// A parsed replacement template: literal runs and group references.
using TemplatePart = std::variant<icu::UnicodeString, std::int32_t>;

std::vector<TemplatePart> parseTemplate(const icu::UnicodeString& tmpl, std::int32_t groupCount) {
    std::vector<TemplatePart> parts;
    icu::UnicodeString literal;
    const std::int32_t n = tmpl.length();
    for (std::int32_t i = 0; i < n;) {
        const UChar32 c = tmpl.char32At(i);
        const std::int32_t next = i + U16_LENGTH(c);
        if (c == u'\\') {
            if (next < n) {
                const UChar32 escaped = tmpl.char32At(next);
                literal.append(escaped);
                i = next + U16_LENGTH(escaped);
            } else {
                i = next;
            }
            continue;
        }
        if (c == u'$' && next < n && tmpl.charAt(next) >= u'0' && tmpl.charAt(next) <= u'9') {
            // Take digits while they still name an existing group; the first digit always counts.
            std::int32_t group = tmpl.charAt(next) - u'0';
            std::int32_t j = next + 1;
            while (j < n && tmpl.charAt(j) >= u'0' && tmpl.charAt(j) <= u'9') {
                const std::int32_t longer = group * 10 + (tmpl.charAt(j) - u'0');
                if (longer > groupCount) break;
                group = longer;
                ++j;
            }
            if (!literal.isEmpty()) {
                parts.emplace_back(literal);
                literal.remove();
            }
            parts.emplace_back(group);
            i = j;
            continue;
        }
        literal.append(c);
        i = next;
    }
    if (!literal.isEmpty()) parts.emplace_back(literal);
    return parts;
}

// Every match replaced by the template, in UTF-16 as ICU works fastest; nothing when ICU gave
// up part way through.
std::optional<std::string> replaceAll(const PatternPtr& compiled, std::string_view text,
                                      std::string_view tmpl, UErrorCode& failure) {
    if (!compiled) return std::string(text);
    const icu::UnicodeString input = fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(input, status));
    if (U_FAILURE(status) || !matcher) return std::string(text);
    if (!matcher->find(status)) {
        if (U_FAILURE(status)) {
            failure = status;
            return std::nullopt;
        }
        return std::string(text);
    }

    const std::int32_t groupCount = matcher->groupCount();
    const auto parts = parseTemplate(fromUtf8(tmpl), groupCount);
    icu::UnicodeString out;
    std::int32_t copied = 0;
    do {
        const std::int32_t start = matcher->start(status);
        out.append(input, copied, start - copied);
        for (const auto& part : parts) {
            if (const auto* literal = std::get_if<icu::UnicodeString>(&part)) {
                out.append(*literal);
                continue;
            }
            const std::int32_t g = std::get<std::int32_t>(part);
            if (g > groupCount) continue;
            const std::int32_t gs = matcher->start(g, status);
            if (gs >= 0) out.append(input, gs, matcher->end(g, status) - gs);
        }
        copied = matcher->end(status);
    } while (matcher->find(status));
    if (U_FAILURE(status)) {
        failure = status;
        return std::nullopt;
    }
    out.append(input, copied, input.length() - copied);
    return toUtf8(out);
}

std::string replaceOrKeep(const PatternPtr& compiled, std::string_view text,
                          std::string_view tmpl) {
    UErrorCode failure = U_ZERO_ERROR;
    if (auto replaced = replaceAll(compiled, text, tmpl, failure)) return std::move(*replaced);
    reportGaveUp(*compiled, text.size(), failure, "text left as it was");
    return std::string(text);
}

} // namespace

std::string RegexMatch::group(std::size_t i) const {
    if (i >= groups.size() || !groups[i]) return {};
    return *groups[i];
}

std::string regexReplace(std::string_view text, std::string_view pattern, std::string_view tmpl,
                         RegexFlags flags) {
    return replaceOrKeep(patternCache().get(pattern, flags), text, tmpl);
}

std::string regexEscape(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() * 2);
    for (char c : literal) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '_' || c == ' ';
        // Backslash before any other ASCII character makes it literal in ICU syntax.
        if (!plain) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string templateEscape(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() + 4);
    for (char c : literal) {
        if (c == '\\' || c == '$') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

Regex::Regex(std::string_view pattern, RegexFlags flags) : compiled_(compile(pattern, flags)) {}

Regex Regex::cached(std::string_view pattern, RegexFlags flags) {
    return Regex(patternCache().get(pattern, flags));
}

std::string Regex::replace(std::string_view text, std::string_view tmpl) const {
    return replaceOrKeep(compiled_, text, tmpl);
}

std::optional<std::string> Regex::tryReplace(std::string_view text, std::string_view tmpl) const {
    UErrorCode failure = U_ZERO_ERROR;
    return replaceAll(compiled_, text, tmpl, failure);
}

bool Regex::search(std::string_view text) const {
    Utf8Search search(compiled_, text);
    if (search.find(0)) return true;
    if (search.gaveUp())
        reportGaveUp(*compiled_, text.size(), search.status(), "taken as no match");
    return false;
}

bool Regex::fullMatch(std::string_view text) const {
    Utf8Search search(compiled_, text);
    if (search.matchesWhole()) return true;
    if (search.gaveUp())
        reportGaveUp(*compiled_, text.size(), search.status(), "taken as no match");
    return false;
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text, std::size_t from) const {
    Utf8Search search(compiled_, text);
    if (search.find(from)) return search.current();
    if (search.gaveUp())
        reportGaveUp(*compiled_, text.size(), search.status(), "taken as no match");
    return std::nullopt;
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
    return allMatchesOf(compiled_, text);
}

std::string
Regex::replaceEach(std::string_view text,
                   const std::function<std::string(const RegexMatch&)>& replacement) const {
    const std::vector<RegexMatch> matches = allMatches(text);
    if (matches.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t copied = 0;
    for (const RegexMatch& match : matches) {
        out.append(text, copied, match.begin - copied);
        out += replacement(match);
        copied = match.end;
    }
    out.append(text, copied);
    return out;
}

std::string RegexRule::apply(std::string_view text) const {
    if (fallback == nullptr) return pattern.replace(text, tmpl);
    if (auto replaced = pattern.tryReplace(text, tmpl)) return std::move(*replaced);
    log(LogLevel::warning, "a text rule ran out of its pattern's limits on " +
                               std::to_string(text.size()) + " bytes — done without the pattern");
    return fallback(text);
}

bool regexIsValid(std::string_view pattern, RegexFlags flags) {
    return patternCache().get(pattern, flags) != nullptr;
}

bool regexSearch(std::string_view text, std::string_view pattern, RegexFlags flags) {
    return Regex::cached(pattern, flags).search(text);
}

bool regexFullMatch(std::string_view text, std::string_view pattern, RegexFlags flags) {
    return Regex::cached(pattern, flags).fullMatch(text);
}

std::optional<RegexMatch> regexFirstMatch(std::string_view text, std::string_view pattern,
                                          RegexFlags flags) {
    return Regex::cached(pattern, flags).firstMatch(text);
}

std::vector<RegexMatch> regexAllMatches(std::string_view text, std::string_view pattern,
                                        RegexFlags flags) {
    return Regex::cached(pattern, flags).allMatches(text);
}

bool isPatternSpace(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE) != 0;
}

bool isPatternWordChar(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    return u_hasBinaryProperty(cp, UCHAR_ALPHABETIC) ||
           (U_GET_GC_MASK(cp) & (U_GC_M_MASK | U_GC_ND_MASK | U_GC_PC_MASK)) != 0 || c == 0x200C ||
           c == 0x200D;
}

namespace {

// Combining marks and format characters go with the character before them.
bool attaches(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    return u_hasBinaryProperty(cp, UCHAR_GRAPHEME_EXTEND) || u_charType(cp) == U_FORMAT_CHAR;
}

} // namespace

bool isPatternWordBoundary(std::string_view text, std::size_t offset) {
    bool here = false;
    if (offset < text.size()) {
        std::size_t next = 0;
        const char32_t c = codePointAt(text, offset, next);
        if (attaches(c)) return false;
        here = isPatternWordChar(c);
    }
    bool before = false;
    for (std::size_t end = offset; end > 0;) {
        std::size_t start = end;
        const char32_t c = codePointBefore(text, end, start);
        if (!attaches(c)) {
            before = isPatternWordChar(c);
            break;
        }
        end = start;
    }
    return here != before;
}

std::size_t patternCharStart(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    while (offset > 0 && offset < text.size() &&
           (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80)
        --offset;
    while (offset > 0 && offset < text.size()) {
        std::size_t next = 0;
        if (!attaches(codePointAt(text, offset, next))) break;
        std::size_t start = offset;
        codePointBefore(text, offset, start);
        offset = start;
    }
    return offset;
}

char32_t patternFold(char32_t c) {
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

} // namespace vak
