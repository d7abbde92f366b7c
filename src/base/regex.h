#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace vak {

// Regular expressions in ICU syntax over UTF-8 text. Patterns are compiled once and cached, so
// fixed patterns cost nothing after their first use. ICU runs a loop over a bracketed set ("[\s]+",
// "[ \t]*") without keeping a backtracking frame per character, but not a loop over "\s", a
// single character or a counted repeat: on a long run of blanks those exhaust its stack, so
// fixed patterns write "[\s]+" and "[\s][\s]+". `^` and `$` anchor to the whole text and `.`
// does not match line breaks unless the pattern says otherwise with inline flags.
enum class RegexFlags : unsigned { None = 0, CaseInsensitive = 1 };

// Replaces every match of `pattern` in `text` by `tmpl`. In the template, "$n" inserts group n
// (the longest run of digits that names an existing group; a group that did not take part inserts
// nothing), and a backslash makes the next character literal. A pattern that does not compile
// leaves the text unchanged.
std::string regexReplace(std::string_view text, std::string_view pattern, std::string_view tmpl,
                         RegexFlags flags = RegexFlags::None);

// `literal` as a pattern matching exactly itself.
std::string regexEscape(std::string_view literal);
// `literal` as a template inserting exactly itself.
std::string templateEscape(std::string_view literal);

bool regexIsValid(std::string_view pattern, RegexFlags flags = RegexFlags::None);

struct RegexMatch {
    std::size_t begin = 0; // UTF-8 byte offsets of the whole match in the searched text
    std::size_t end = 0;
    // groups[0] is the whole match; a group that did not take part is absent.
    std::vector<std::optional<std::string>> groups;

    const std::string& text() const { return *groups.at(0); }
    // Group i, or "" when it did not take part or does not exist.
    std::string group(std::size_t i) const;
};

// True when the pattern matches anywhere in the text (false when it does not compile).
bool regexSearch(std::string_view text, std::string_view pattern,
                 RegexFlags flags = RegexFlags::None);
// True when the pattern matches the whole text.
bool regexFullMatch(std::string_view text, std::string_view pattern,
                    RegexFlags flags = RegexFlags::None);
std::optional<RegexMatch> regexFirstMatch(std::string_view text, std::string_view pattern,
                                          RegexFlags flags = RegexFlags::None);
std::vector<RegexMatch> regexAllMatches(std::string_view text, std::string_view pattern,
                                        RegexFlags flags = RegexFlags::None);

// A pattern compiled once and kept, for stages that run the same pattern on every call: no cache
// look-up, no recompilation after the cache is cleared. Copies share the compiled pattern; safe to
// use from several threads at once.
class Regex {
  public:
    Regex() = default;
    explicit Regex(std::string_view pattern, RegexFlags flags = RegexFlags::None);

    // False when the pattern did not compile; such a Regex matches nothing.
    bool valid() const { return compiled_ != nullptr; }
    // The pattern cached by source and flags (see regexReplace), compiled on first use.
    static Regex cached(std::string_view pattern, RegexFlags flags = RegexFlags::None);

    // regexReplace with this pattern. When ICU gives up part way through (its backtracking
    // stack or time limit ran out) the text comes back unchanged and one line is logged; the
    // searches below log the same and report no match.
    std::string replace(std::string_view text, std::string_view tmpl) const;
    // The same, but nothing when ICU gave up, so the caller can do the work another way.
    std::optional<std::string> tryReplace(std::string_view text, std::string_view tmpl) const;
    bool search(std::string_view text) const;
    // True when the pattern matches the whole text.
    bool fullMatch(std::string_view text) const;
    // The first match that starts at or after byte offset `from` (a character boundary). The
    // UTF-8 text is searched in place: look-behinds and "\b" still see what lies before `from`,
    // and a search costs only what it scans, so walking a long text match by match stays linear.
    std::optional<RegexMatch> firstMatch(std::string_view text, std::size_t from = 0) const;
    std::vector<RegexMatch> allMatches(std::string_view text) const;
    // Replaces every match by what `replacement` makes of it, inserted literally.
    std::string replaceEach(std::string_view text,
                            const std::function<std::string(const RegexMatch&)>& replacement) const;

  private:
    explicit Regex(std::shared_ptr<const icu::RegexPattern> compiled)
        : compiled_(std::move(compiled)) {}
    std::shared_ptr<const icu::RegexPattern> compiled_;
};

// A fixed pattern and its replacement template, compiled once: one stage of a rewrite table.
// A rule whose pattern can exhaust ICU's backtracking stack on long input carries a `fallback`
// doing the same work without the pattern; apply() switches to it, with one log line, when ICU
// gives up.
struct RegexRule {
    Regex pattern;
    std::string tmpl;
    std::string (*fallback)(std::string_view text) = nullptr;

    std::string apply(std::string_view text) const;
};

// The patterns' own character rules, for stages that do the same work without a pattern:
// "\s" (Unicode White_Space), "\w" (letters, marks, digits, connectors, ZWJ and ZWNJ), "\b"
// (a change between \w and not, combining marks and format characters belonging to the
// character before them), and the simple case folding of "(?i)". An ill-formed byte reads as
// U+FFFD.
bool isPatternSpace(char32_t c);
bool isPatternWordChar(char32_t c);
bool isPatternWordBoundary(std::string_view text, std::size_t offset);
// The start of the character holding byte `offset`, with the marks and format characters attached
// to it: a text cut there reads the same to "\b" as the whole text does.
std::size_t patternCharStart(std::string_view text, std::size_t offset);
char32_t patternFold(char32_t c);

} // namespace vak
