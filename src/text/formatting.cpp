#include "text/formatting.h"

#include "base/files.h"
#include "base/regex.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "text/collapse_repeats.h"
#include "text/sentence_casing.h"
#include "text/snippets.h"
#include "text/sound_alike.h"
#include "text/spellings.h"

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vak {

namespace {

std::vector<RegexRule>
compileRules(std::initializer_list<std::pair<std::string_view, std::string_view>> rules) {
    std::vector<RegexRule> out;
    for (const auto& [pattern, tmpl] : rules)
        out.push_back({Regex(pattern), std::string(tmpl)});
    return out;
}

template <std::size_t N>
std::vector<RegexRule> compileTable(const std::array<SpellingRule, N>& table) {
    std::vector<RegexRule> out;
    for (const SpellingRule& row : table)
        out.push_back({Regex(row.pattern), std::string(row.replacement)});
    return out;
}

// The built-in patterns of every stage, compiled once per process.
struct FixedRules {
    RegexRule upperCaseTag{Regex(R"(\[[A-Z_ ]+\])"), " "};
    // Where a sound tag such as "(laughs)" or "(Applause loudly)" opens; it runs to the next ")".
    Regex soundTagOpening{R"((?i)\((?:laugh|sigh|music|noise|silence|cough|applause))"};
    RegexRule hesitationBetweenCommas{
        Regex(R"((?i),[\s]*\b(?:um+|uhm+|erm+|mhm+|uh+(?![\s]+huh\b))\b[,.][\s]*)"), ", "};
    RegexRule freeHesitation{
        Regex(R"((?i)(?:^|(?<=[\s.]))(?:um+|uhm+|erm+|mhm+|uh+(?![\s]+huh\b))\b[,.]?(?=\s|$))"),
        " "};
    std::vector<RegexRule> layout = compileRules({
        {R"((?i)([.!?])[ \t]*\bnew paragraph\b[,.;:]*[ \t]*)", "$1\n\n"},
        {R"((?i)[,;:][ \t]*\bnew paragraph\b[,.;:]*[ \t]*)", "\n\n"},
        {R"((?i)^[ \t]*new paragraph\b[,.;:]*[ \t]*)", "\n\n"},
        {R"((?i)([.!?])[ \t]*\bnew line\b[,.;:]*[ \t]*)", "$1\n"},
        {R"((?i)[,;:][ \t]*\bnew line\b[,.;:]*[ \t]*)", "\n"},
        {R"((?i)^[ \t]*new line\b[,.;:]*[ \t]*)", "\n"},
        {R"((?i)([.!?])[ \t]*\b(?:dash|bullet(?:[\s]+point)?)\b[,.;:]*[ \t]+)", "$1\n- "},
        {R"((?i)[,;:][ \t]*\b(?:dash|bullet(?:[\s]+point)?)\b[,.;:]*[ \t]+)", "\n- "},
        {R"((?i)(?<=\n)[ \t]*(?:dash|bullet(?:[\s]+point)?)\b[,.;:]*[ \t]+)", "- "},
        {R"((?i)^[ \t]*(?:dash|bullet(?:[\s]+point)?)\b[,.;:]*[ \t]+)", "- "},
    });
    std::vector<RegexRule> brands = compileTable(BRAND_SPELLINGS);
    std::vector<RegexRule> spacing = compileRules({
        {R"([ \t]+)", " "},
        // A period that starts a word (".env", ".NET") keeps its blank.
        {R"( ([,!?;:]|\.(?!\w)))", "$1"},
        {R"( *\n *)", "\n"},
    });
    std::vector<RegexRule> platforms = compileTable(PLATFORM_SPELLINGS);
    RegexRule loneI{Regex(R"(\bi\b(?!\.))"), "I"};
};

const FixedRules& fixedRules() {
    // Never destroyed: background formatting may still run while the process exits.
    static const FixedRules* rules = new FixedRules();
    return *rules;
}

// Something built from a file's content, rebuilt only when the content changes.
template <typename T>
class ContentCache {
  public:
    template <typename Build>
    std::shared_ptr<const T> get(const std::string& content, Build build) {
        std::lock_guard lock(mutex_);
        if (!value_ || content != content_) {
            value_ = std::make_shared<const T>(build(content));
            content_ = content;
        }
        return value_;
    }

  private:
    std::mutex mutex_;
    std::string content_;
    std::shared_ptr<const T> value_;
};

// The learned words as the two stages use them.
struct Dictionary {
    std::vector<RegexRule> exact; // stage 11, one rule per entry
    SoundAlikeCorrector soundAlike;

    explicit Dictionary(const std::vector<LearnedWord>& words) : soundAlike(words) {
        exact.reserve(words.size());
        for (const LearnedWord& word : words) {
            // The canonical spelling is an alternative too, so its capitals are enforced.
            std::string alternatives = regexEscape(word.canonical);
            for (const std::string& variant : word.variants)
                alternatives += "|" + regexEscape(variant);
            // Look-arounds instead of "\b": identical for words that begin and end with a letter
            // or digit, and "C#" or ".NET" still match before a blank or after one.
            exact.push_back({Regex("(?i)(?<!\\w)(?:" + alternatives + ")(?!\\w)"),
                             templateEscape(word.canonical)});
        }
    }
};

std::string fileContent(const std::string& path) {
    return readUserText(path).value_or(std::string());
}

std::shared_ptr<const Dictionary> dictionaryFor(const std::string& path) {
    static auto* cache = new ContentCache<Dictionary>();
    return cache->get(fileContent(path), [](const std::string& content) {
        return Dictionary(parseLearnedWords(content));
    });
}

std::shared_ptr<const SnippetExpander> snippetsFor(const std::string& path) {
    static auto* cache = new ContentCache<SnippetExpander>();
    return cache->get(fileContent(path), [](const std::string& content) {
        return SnippetExpander(parseSnippets(content));
    });
}

bool startsAndEndsWith(std::string_view s, char first, char last) {
    return !s.empty() && s.front() == first && s.back() == last;
}

// Stage 1: whole-line engine markers out, the rest joined into one line.
std::string filterLines(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    std::size_t pos = 0;
    while (pos < raw.size()) {
        const std::size_t newline = raw.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? raw.size() : newline;
        // A CR before the break is part of the break.
        const std::string line = trimChars(raw.substr(pos, end - pos), U" \t\r");
        pos = end + 1;
        if (line.empty() || startsAndEndsWith(line, '[', ']') ||
            startsAndEndsWith(line, '(', ')')) {
            continue;
        }
        if (!out.empty()) out += ' ';
        out += line;
    }
    return out;
}

// Stage 3: every sound tag becomes a blank. A tag ends at the first ")" after it; with none left
// no later tag can end either, so text full of unclosed "(laugh" is still read once.
std::string removeSoundTags(const std::string& text, const Regex& opening) {
    std::string out;
    std::size_t copied = 0;
    auto tag = opening.firstMatch(text);
    while (tag) {
        const std::size_t close = text.find(')', tag->end);
        if (close == std::string::npos) break;
        out.append(text, copied, tag->begin - copied);
        out += ' ';
        copied = close + 1;
        tag = opening.firstMatch(text, copied);
    }
    if (copied == 0) return text;
    out.append(text, copied);
    return out;
}

std::string applyAll(std::string text, const std::vector<RegexRule>& rules) {
    for (const RegexRule& rule : rules)
        text = rule.apply(text);
    return text;
}

// Stage 21: a closing period after four or more words ending in a letter or digit.
std::string closeSentence(std::string text) {
    std::size_t pieces = 0;
    bool inPiece = false;
    for (char c : text) {
        if (c == ' ') {
            inPiece = false;
        } else if (!inPiece) {
            inPiece = true;
            ++pieces;
        }
    }
    if (pieces < 4) return text;
    std::vector<std::size_t> bounds;
    graphemeBoundaries(text, bounds);
    if (bounds.size() < 2) return text;
    const std::size_t lastStart = bounds[bounds.size() - 2];
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    auto i = static_cast<std::int32_t>(lastStart);
    UChar32 c = 0;
    U8_NEXT(s, i, static_cast<std::int32_t>(text.size()), c);
    if (c >= 0 && (u_isalpha(c) || u_isdigit(c))) text += '.';
    return text;
}

} // namespace

TranscriptSources TranscriptSources::from(const ProcessValues& values) {
    return {LearnedFiles::from(values), values.SNIPPETS_PATH, nullptr};
}

const SystemWords& TranscriptSources::common() const {
    return commonWords != nullptr ? *commonWords : SystemWords::common();
}

FormattedTranscript formatTranscript(std::string_view raw, const TranscriptSources& sources) {
    const FixedRules& rules = fixedRules();
    // Decoders can cut a character in half; such bytes become U+FFFD here, once, so every stage
    // sees and returns well-formed text.
    FormattedTranscript result;
    std::string text = filterLines(sanitizeUtf8(raw));
    if (text.empty()) return result;
    text = rules.upperCaseTag.apply(text);
    text = removeSoundTags(text, rules.soundTagOpening);
    text = collapseRepeats(text, Repeats::loops);
    text = rules.hesitationBetweenCommas.apply(text);
    text = rules.freeHesitation.apply(text);
    text = applyAll(std::move(text), rules.layout);
    text = applyAll(std::move(text), rules.brands);

    const auto dictionary = dictionaryFor(sources.learned.words);
    text = applyAll(std::move(text), dictionary->exact);
    SoundAlikeResult corrected = dictionary->soundAlike.correct(text, sources.common());
    text = std::move(corrected.text);
    result.notes = std::move(corrected.notes);
    text = snippetsFor(sources.snippets)->apply(text);

    text = applyAll(std::move(text), rules.spacing);
    text = trimChars(text, U" \t\r\n");
    text = capitalizeSentences(text);
    text = applyAll(std::move(text), rules.platforms);
    text = rules.loneI.apply(text);
    result.text = closeSentence(std::move(text));
    return result;
}

std::string formatAndLearn(std::string_view raw, const TranscriptSources& sources) {
    FormattedTranscript formatted = formatTranscript(raw, sources);
    recordVariantNotes(formatted.notes, sources.learned);
    return std::move(formatted.text);
}

} // namespace vak
