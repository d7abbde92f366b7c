#include "text/sentence_cleanup.h"

#include "base/environment.h"
#include "base/regex.h"
#include "base/unicode.h"
#include "text/words.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <unicode/numberformatter.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vak {

namespace {

// The spoken forms of the contraction table, each one capture group of one pattern, so the
// whole table is one pass; no replacement produces a form another row would match, so one pass
// gives what applying the rows one after another gives.
struct Contraction {
    std::string_view spoken;
    std::string_view written;
};
constexpr std::array<Contraction, 36> kContractions = {{
    {"dont", "don't"},       {"cant", "can't"},         {"wont", "won't"},
    {"didnt", "didn't"},     {"doesnt", "doesn't"},     {"isnt", "isn't"},
    {"wasnt", "wasn't"},     {"couldnt", "couldn't"},   {"shouldnt", "shouldn't"},
    {"wouldnt", "wouldn't"}, {"hasnt", "hasn't"},       {"havent", "haven't"},
    {"thats", "that's"},     {"whats", "what's"},       {"heres", "here's"},
    {"theres", "there's"},   {"youre", "you're"},       {"theyre", "they're"},
    {"arent", "aren't"},     {"werent", "weren't"},     {"hadnt", "hadn't"},
    {"youll", "you'll"},     {"theyll", "they'll"},     {"theyve", "they've"},
    {"weve", "we've"},       {"youve", "you've"},       {"theyd", "they'd"},
    {"whos", "who's"},       {"hows", "how's"},         {"wheres", "where's"},
    {"couldve", "could've"}, {"shouldve", "should've"}, {"wouldve", "would've"},
    {"itll", "it'll"},       {"thatll", "that'll"},     {"mustve", "must've"},
}};
// Case-sensitive rows after the others: lower-case "im", "ive" and "i" only.
constexpr std::array<Contraction, 3> kPronounRows = {{{"im", "I'm"}, {"ive", "I've"}, {"i", "I"}}};

std::string contractionPattern() {
    std::string pattern = "\\b(?:(?i:";
    for (std::size_t i = 0; i < kContractions.size(); ++i) {
        if (i > 0) pattern += '|';
        pattern += "(" + std::string(kContractions[i].spoken) + ")";
    }
    // "i" in "i.e." stays as it is; a sentence-ending "i." is still the pronoun.
    pattern += ")|(im)|(ive)|(i)(?!\\.\\w))\\b";
    return pattern;
}

// Short words a speaker stutters ("the the"), in the order the stutter rule tries them.
constexpr std::array<std::string_view, 18> kStutterWords = {
    "the", "a",  "an", "to", "of", "in", "on",  "at",  "and",
    "but", "or", "we", "i",  "it", "is", "was", "for", "with"};

std::string stutterPattern() {
    std::string pattern = "(?i)\\b(";
    for (std::size_t i = 0; i < kStutterWords.size(); ++i) {
        if (i > 0) pattern += '|';
        pattern += kStutterWords[i];
    }
    // A whole run of the same word, so that "the the the" does not leave "the the".
    return pattern + ")(?:[\\s]+\\1\\b)+";
}

std::string calendarPattern() {
    std::string pattern = "(?i)\\b(?:";
    for (std::size_t i = 0; i < CALENDAR_WORDS.size(); ++i) {
        if (i > 0) pattern += '|';
        pattern += "(" + std::string(CALENDAR_WORDS[i]) + ")";
    }
    return pattern + ")\\b";
}

// The first group of a match that took part, counted from 1; 0 when none did.
std::size_t matchedGroup(const RegexMatch& match) {
    for (std::size_t g = 1; g < match.groups.size(); ++g) {
        if (match.groups[g]) return g;
    }
    return 0;
}

struct CleanupRules {
    Regex cue{
        R"((?i)\b(?:no,?[\s]+wait|wait,?[\s]+no|scratch that|actually,?[\s]+no|no,?[\s]+actually|i mean,)\b[,.]?[\s]*)"};
    Regex opener{R"((?i)^(?:ok(?:ay)?|so|yeah|alright|well|anyway|um|uh)[,]?[\s]+)"};
    std::vector<RegexRule> filler = {
        {Regex(R"((?i),[\s]*(?:like|you know|i mean|i guess)[\s]*,)"), ","},
        {Regex(R"((?i)\b(?:you know|i guess|basically|literally)[\s]*,[\s]*)"), ""},
        {Regex(
             R"((?i),?[\s]*(?:you know what i mean|if that makes sense|or whatever|and stuff(?: like that)?|and everything)[\s]*([,.?!]|$))"),
         "$1"},
        // The pattern keeps a backtracking frame per repeat; a run of some hundred thousand
        // exhausts ICU's stack, and collapseStutters takes over.
        {Regex(stutterPattern()), "$1", collapseStutters},
        {Regex(R"([\s][\s]+)"), " "},
    };
    Regex contractions{contractionPattern()};
    // Not after a digit, comma or period: "1,500 dollars" must not become "1,$500".
    Regex money{R"((?<![\d.,])\b(\d{1,9}) dollars\b)", RegexFlags::CaseInsensitive};
    RegexRule percent{Regex(R"(\b(\d+(?:\.\d+)?) percent\b)"), "$1%"};
    Regex clock{R"(\b(\d{1,2}(?::\d{2})?)\s?(am|pm)\b)", RegexFlags::CaseInsensitive};
    Regex calendar{calendarPattern()};
};

const CleanupRules& rules() {
    // Never destroyed: background rewrites may still run while the process exits.
    static const CleanupRules* compiled = new CleanupRules();
    return *compiled;
}

// A text being corrected cue by cue without moving what is still to be read: `settled_` (final
// unless a later cue cuts back into it), then the live part, buffer_[start_, end). A cut writes
// the last few bytes before its comma and the new ", " just in front of the text after the cue,
// in the room that the removed clause and cue leave, so each cut costs what it removes.
class CorrectedText {
  public:
    explicit CorrectedText(std::string_view input) { reset(input); }

    std::string_view live() const { return std::string_view(buffer_).substr(start_); }
    std::string whole() const { return settled_ + std::string(live()); }
    std::string beforeLive(std::size_t end) const {
        return settled_ + std::string(live().substr(0, end));
    }

    void reset(std::string_view text) {
        settled_.clear();
        buffer_.assign(kRoom, ' ');
        buffer_.append(text);
        start_ = kRoom;
    }

    // Only what follows the cue remains.
    void dropThrough(std::size_t cueEnd) {
        settled_.clear();
        start_ += cueEnd;
    }

    // The clause after the last comma before the cue, and the cue, give way to ", ". Returns the
    // live offset from which a new cue may begin, or nothing when there is no comma to go back
    // to. Such a cue reads past the new comma (the text up to it is as it was, and held none),
    // so it begins with one of its first words just before the comma: well within kLookBack.
    std::optional<std::size_t> cutAtLastComma(std::size_t cueBegin, std::size_t cueEnd) {
        const std::string_view text = live();
        std::string tail;
        const std::size_t comma = text.substr(0, cueBegin).rfind(',');
        if (comma != std::string_view::npos) {
            std::size_t keep = comma > kTail ? charStart(text, comma - kTail) : 0;
            settled_.append(text.substr(0, keep));
            tail.assign(text.substr(keep, comma - keep));
        } else {
            const std::size_t settledComma = settled_.rfind(',');
            if (settledComma == std::string::npos) return std::nullopt;
            settled_.resize(settledComma);
        }
        // Enough of the text before the comma stays live for a cue (and "\b") to see.
        if (tail.size() < kTail && !settled_.empty()) {
            const std::size_t from = charStart(
                settled_, settled_.size() - std::min(settled_.size(), kTail - tail.size()));
            tail.insert(0, settled_, from);
            settled_.resize(from);
        }
        tail += ", ";
        std::size_t at = start_ + cueEnd;
        if (at < tail.size()) { // no room left in front: make some
            buffer_ = std::string(kRoom + tail.size(), ' ') + std::string(text.substr(cueEnd));
            at = kRoom + tail.size();
        }
        start_ = at - tail.size();
        buffer_.replace(start_, tail.size(), tail);
        const std::size_t newComma = tail.size() - 2;
        return newComma > kLookBack ? charStart(live(), newComma - kLookBack) : 0;
    }

  private:
    static constexpr std::size_t kRoom = 64;
    static constexpr std::size_t kTail = 32;
    static constexpr std::size_t kLookBack = 16;

    // A cut never separates a character from its combining marks: "\b" would see a new one.
    static std::size_t charStart(std::string_view text, std::size_t offset) {
        return patternCharStart(text, offset);
    }

    std::string settled_;
    std::string buffer_;
    std::size_t start_ = 0;
};

// Grouped digits in a locale, with a formatter made once per locale name.
std::optional<std::string> groupedNumber(std::int64_t value, const std::string& localeName) {
    using icu::number::LocalizedNumberFormatter;
    static std::mutex mutex;
    static auto* formatters =
        new std::map<std::string, std::shared_ptr<LocalizedNumberFormatter>>();
    std::shared_ptr<LocalizedNumberFormatter> formatter;
    {
        std::lock_guard lock(mutex);
        auto& slot = (*formatters)[localeName];
        if (!slot) {
            icu::Locale locale(localeName.c_str());
            if (locale.isBogus()) locale = icu::Locale("en_US");
            slot = std::make_shared<LocalizedNumberFormatter>(
                icu::number::NumberFormatter::withLocale(locale).precision(
                    icu::number::Precision::integer()));
        }
        formatter = slot;
    }
    // A LocalizedNumberFormatter is immutable and safe to share between threads.
    UErrorCode status = U_ZERO_ERROR;
    const icu::number::FormattedNumber formatted = formatter->formatInt(value, status);
    icu::UnicodeString digits = formatted.toString(status);
    if (U_FAILURE(status)) return std::nullopt;
    std::string out;
    digits.toUTF8String(out);
    return out;
}

} // namespace

namespace {

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

} // namespace

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
        for (std::string_view word : kStutterWords) {
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

std::string numberLocaleName() {
    for (const Env variable : {Env::LocaleAll, Env::LocaleNumeric, Env::Language}) {
        const auto value = envValue(variable);
        if (!value) continue;
        std::string name = *value;
        // "de_DE.UTF-8@euro" → "de_DE"
        name = name.substr(0, name.find_first_of(".@"));
        // The POSIX locale names no grouping of its own; treat it as none set.
        if (name.empty() || name == "C" || name == "POSIX") break;
        return name;
    }
    return "en_US";
}

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

std::string resolveSelfCorrections(std::string_view input) {
    const Regex& cue = rules().cue;
    CorrectedText text(input);
    std::size_t from = 0;
    while (const auto match = cue.firstMatch(text.live(), from)) {
        const std::string_view after = text.live().substr(match->end);
        if (!hasAtLeastWords(after, 4) && hasAtLeastWords(after, 1)) {
            // A short correction replaces as many words before the cue. It can only happen
            // within the text's last three words, a few times at most, so rebuilding the text
            // (single-spaced, as the words are joined) and searching it again stays cheap.
            const std::string before = text.beforeLive(match->begin);
            const std::vector<std::string_view> afterWords = splitWords(after);
            std::vector<std::string_view> words = splitWords(before);
            words.resize(words.size() > afterWords.size() ? words.size() - afterWords.size() : 0);
            words.insert(words.end(), afterWords.begin(), afterWords.end());
            text.reset(joinWords(words));
            from = 0;
            continue;
        }
        if (const auto restart = text.cutAtLastComma(match->begin, match->end)) {
            from = *restart;
        } else {
            // Nothing to go back to: the correction alone remains.
            text.dropThrough(match->end);
            from = 0;
        }
    }
    return text.whole();
}

std::string stripSpokenFiller(std::string_view input) {
    const CleanupRules& r = rules();
    std::string_view rest = input;
    while (const auto opener = r.opener.firstMatch(rest)) {
        if (opener->end == 0) break;
        rest.remove_prefix(opener->end);
    }
    std::string text(rest);
    // Runs of white space become one blank first: the rules allow white space before their
    // words, and on a long run every position would otherwise rescan the rest of the run.
    text = r.filler.back().apply(text);
    for (const RegexRule& rule : r.filler)
        text = rule.apply(text);
    return trim(text, CharClass::Blanks);
}

std::string fixContractions(std::string_view text) {
    return rules().contractions.replaceEach(text, [](const RegexMatch& match) {
        const std::size_t group = matchedGroup(match);
        if (group == 0) return match.text();
        if (group <= kContractions.size()) return std::string(kContractions[group - 1].written);
        return std::string(kPronounRows[group - 1 - kContractions.size()].written);
    });
}

std::string formatSpokenMoney(std::string_view text) {
    const Regex& money = rules().money;
    if (!money.search(text)) return std::string(text);
    const std::string locale = numberLocaleName();
    return money.replaceEach(text, [&](const RegexMatch& match) {
        const std::string digits = match.group(1);
        std::int64_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        // Digits of other scripts match \d but do not parse; such an amount stays as spoken.
        if (error != std::errc() || end != digits.data() + digits.size()) return match.text();
        const auto grouped = groupedNumber(value, locale);
        return grouped ? "$" + *grouped : match.text();
    });
}

std::string formatSpokenUnits(std::string_view text) {
    const CleanupRules& r = rules();
    std::string out = formatSpokenMoney(text);
    out = r.percent.apply(out);
    return r.clock.replaceEach(out, [](const RegexMatch& match) {
        return match.group(1) + " " + toUpper(match.group(2));
    });
}

std::string capitalizeCalendar(std::string_view text) {
    return rules().calendar.replaceEach(text, [](const RegexMatch& match) {
        const std::size_t group = matchedGroup(match);
        if (group == 0) return match.text();
        return upperFirst(CALENDAR_WORDS[group - 1]);
    });
}

std::string sentenceCased(std::string_view text) {
    std::string out = upperFirst(trim(text, CharClass::Blanks));
    if (out.empty() || endsWithAnyOf(out, ".?!:")) return out;
    // A trailing comma or semicolon gives way to the period rather than standing before it.
    if (endsWithAnyOf(out, ",;"))
        out.back() = '.';
    else
        out += '.';
    return out;
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
