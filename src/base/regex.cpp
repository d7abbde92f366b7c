#include "base/regex.h"

#include "base/icu_util.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include <unicode/regex.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

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

// An ICU matcher points at its pattern without owning it, and the cache may drop the pattern
// (cleared when full, or a duplicate compiled by a racing thread), so the matcher carries its own
// reference. `pattern` is declared first so that it is released after the matcher.
struct Matcher {
    PatternPtr pattern;
    std::unique_ptr<icu::RegexMatcher> matcher;

    explicit operator bool() const { return matcher != nullptr; }
    icu::RegexMatcher* operator->() const { return matcher.get(); }
    icu::RegexMatcher& operator*() const { return *matcher; }
};

Matcher matcherFor(const icu::UnicodeString& text, std::string_view pattern, RegexFlags flags) {
    Matcher result;
    result.pattern = patternCache().get(pattern, flags);
    if (!result.pattern) return result;
    UErrorCode status = U_ZERO_ERROR;
    result.matcher.reset(result.pattern->matcher(text, status));
    if (U_FAILURE(status)) result.matcher.reset();
    return result;
}

// Maps UTF-16 indices of a string, visited in increasing order, to UTF-8 byte offsets.
class OffsetMapper {
  public:
    explicit OffsetMapper(const icu::UnicodeString& text) : text_(text) {}
    std::size_t toUtf8(std::int32_t index16) {
        if (index16 < index16_) {
            index16_ = 0;
            index8_ = 0;
        }
        while (index16_ < index16 && index16_ < text_.length()) {
            const UChar32 c = text_.char32At(index16_);
            index8_ += static_cast<std::size_t>(U8_LENGTH(c));
            index16_ += U16_LENGTH(c);
        }
        return index8_;
    }

  private:
    const icu::UnicodeString& text_;
    std::int32_t index16_ = 0;
    std::size_t index8_ = 0;
};

RegexMatch currentMatch(icu::RegexMatcher& matcher, OffsetMapper& offsets) {
    RegexMatch match;
    UErrorCode status = U_ZERO_ERROR;
    const std::int32_t groups = matcher.groupCount();
    match.groups.reserve(static_cast<std::size_t>(groups) + 1);
    for (std::int32_t g = 0; g <= groups; ++g) {
        const std::int32_t start = matcher.start(g, status);
        if (U_FAILURE(status) || start < 0) {
            match.groups.emplace_back(std::nullopt);
            status = U_ZERO_ERROR;
            continue;
        }
        match.groups.emplace_back(toUtf8(matcher.group(g, status)));
    }
    status = U_ZERO_ERROR;
    match.begin = offsets.toUtf8(matcher.start(status));
    match.end = offsets.toUtf8(matcher.end(status));
    return match;
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

std::string replaceAll(const PatternPtr& compiled, std::string_view text, std::string_view tmpl) {
    if (!compiled) return std::string(text);
    const icu::UnicodeString input = fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(input, status));
    if (U_FAILURE(status) || !matcher) return std::string(text);
    if (!matcher->find(status) || U_FAILURE(status)) return std::string(text);

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
    } while (matcher->find(status) && U_SUCCESS(status));
    out.append(input, copied, input.length() - copied);
    return toUtf8(out);
}

} // namespace

std::string RegexMatch::group(std::size_t i) const {
    if (i >= groups.size() || !groups[i]) return {};
    return *groups[i];
}

std::string regexReplace(std::string_view text, std::string_view pattern, std::string_view tmpl,
                         RegexFlags flags) {
    return replaceAll(patternCache().get(pattern, flags), text, tmpl);
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

std::string Regex::replace(std::string_view text, std::string_view tmpl) const {
    return replaceAll(compiled_, text, tmpl);
}

bool Regex::search(std::string_view text) const {
    if (!compiled_) return false;
    const icu::UnicodeString input = fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
    return U_SUCCESS(status) && matcher && matcher->find(status) && U_SUCCESS(status);
}

bool Regex::fullMatch(std::string_view text) const {
    if (!compiled_) return false;
    const icu::UnicodeString input = fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
    return U_SUCCESS(status) && matcher && matcher->matches(status) && U_SUCCESS(status);
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text, std::size_t from) const {
    if (!compiled_ || from > text.size()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    // A UText reads the UTF-8 bytes where they are (ill-formed bytes read as U+FFFD), and its
    // native indices are byte offsets, so nothing before `from` is converted or scanned.
    std::unique_ptr<UText, decltype(&utext_close)> input(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status),
        &utext_close);
    if (U_FAILURE(status)) return std::nullopt;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(status));
    if (U_FAILURE(status) || !matcher) return std::nullopt;
    matcher->reset(input.get());
    if (!matcher->find(static_cast<std::int64_t>(from), status) || U_FAILURE(status))
        return std::nullopt;
    RegexMatch match;
    const std::int32_t groups = matcher->groupCount();
    match.groups.reserve(static_cast<std::size_t>(groups) + 1);
    for (std::int32_t g = 0; g <= groups; ++g) {
        const std::int64_t start = matcher->start64(g, status);
        const std::int64_t end = matcher->end64(g, status);
        if (U_FAILURE(status) || start < 0) {
            match.groups.emplace_back(std::nullopt);
            status = U_ZERO_ERROR;
            continue;
        }
        match.groups.emplace_back(std::string(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start))));
    }
    match.begin = static_cast<std::size_t>(matcher->start64(status));
    match.end = static_cast<std::size_t>(matcher->end64(status));
    return match;
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
    std::vector<RegexMatch> matches;
    if (!compiled_) return matches;
    const icu::UnicodeString input = fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
    if (U_FAILURE(status) || !matcher) return matches;
    OffsetMapper offsets(input);
    while (matcher->find(status) && U_SUCCESS(status))
        matches.push_back(currentMatch(*matcher, offsets));
    return matches;
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

bool regexIsValid(std::string_view pattern, RegexFlags flags) {
    return patternCache().get(pattern, flags) != nullptr;
}

bool regexSearch(std::string_view text, std::string_view pattern, RegexFlags flags) {
    const icu::UnicodeString input = fromUtf8(text);
    auto matcher = matcherFor(input, pattern, flags);
    UErrorCode status = U_ZERO_ERROR;
    return matcher && matcher->find(status) && U_SUCCESS(status);
}

bool regexFullMatch(std::string_view text, std::string_view pattern, RegexFlags flags) {
    const icu::UnicodeString input = fromUtf8(text);
    auto matcher = matcherFor(input, pattern, flags);
    UErrorCode status = U_ZERO_ERROR;
    return matcher && matcher->matches(status) && U_SUCCESS(status);
}

std::optional<RegexMatch> regexFirstMatch(std::string_view text, std::string_view pattern,
                                          RegexFlags flags) {
    const icu::UnicodeString input = fromUtf8(text);
    auto matcher = matcherFor(input, pattern, flags);
    UErrorCode status = U_ZERO_ERROR;
    if (!matcher || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
    OffsetMapper offsets(input);
    return currentMatch(*matcher, offsets);
}

std::vector<RegexMatch> regexAllMatches(std::string_view text, std::string_view pattern,
                                        RegexFlags flags) {
    std::vector<RegexMatch> matches;
    const icu::UnicodeString input = fromUtf8(text);
    auto matcher = matcherFor(input, pattern, flags);
    if (!matcher) return matches;
    OffsetMapper offsets(input);
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        matches.push_back(currentMatch(*matcher, offsets));
    }
    return matches;
}

} // namespace vak
