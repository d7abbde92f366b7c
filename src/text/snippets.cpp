#include "text/snippets.h"

#include "base/files.h"
#include "base/unicode.h"

#include <algorithm>

namespace vak {

namespace {

std::string expandLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

SnippetMap parseSnippets(std::string_view content) {
    SnippetMap snippets;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t newline = content.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? content.size() : newline;
        std::string_view raw = content.substr(pos, end - pos);
        pos = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        const std::string line = trim(raw, CharClass::Blanks);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string trigger =
            toLower(trim(std::string_view(line).substr(0, equals), CharClass::Blanks));
        const std::string text = trim(std::string_view(line).substr(equals + 1), CharClass::Blanks);
        if (trigger.empty() || text.empty()) continue;
        snippets[std::move(trigger)] = expandLineBreaks(text);
    }
    return snippets;
}

SnippetMap loadSnippets(const std::string& path) {
    const auto content = readUserText(path);
    return content ? parseSnippets(*content) : SnippetMap{};
}

SnippetExpander::SnippetExpander(const SnippetMap& snippets) {
    std::vector<std::pair<std::size_t, const SnippetMap::value_type*>> ordered;
    ordered.reserve(snippets.size());
    for (const auto& entry : snippets)
        ordered.emplace_back(graphemeCount(entry.first), &entry);
    // Longest first; the map's order breaks ties, so the order never depends on chance.
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    // One pattern for all triggers, each its own group, tried longest first: the text is read
    // once and what a snippet inserts is never read again, so a trigger inside a snippet's text
    // stays as written. "(?!\w)" rather than "\b" after the trigger: the same for triggers
    // ending in a letter or digit, and it lets "c++" or "sig!" end before a blank.
    std::string alternatives;
    for (const auto& [length, entry] : ordered) {
        const std::string trigger = trim(entry->first);
        if (trigger.empty()) continue;
        if (!alternatives.empty()) alternatives += '|';
        alternatives += "(" + regexEscape(trigger) + ")";
        texts_.push_back(entry->second);
    }
    if (texts_.empty()) return;
    // Possessive blanks: a trigger never begins with one, so giving some back cannot help.
    pattern_ = Regex("(?i)\\b(?:insert )?snippet[,]?[\\s]++(?:" + alternatives + ")(?!\\w)[,.]?");
}

std::string SnippetExpander::apply(std::string_view text) const {
    // Every rule needs the word "snippet"; one search spares the rest when it is not there.
    static const Regex cue("(?i)snippet");
    if (texts_.empty() || !cue.search(text)) return std::string(text);
    return pattern_.replaceEach(text, [this](const RegexMatch& match) {
        for (std::size_t g = 1; g < match.groups.size(); ++g) {
            if (match.groups[g]) return texts_[g - 1];
        }
        return match.text();
    });
}

} // namespace vak
