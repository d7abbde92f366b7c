#include "text/word_forms.h"

#include "base/regex.h"
#include "base/unicode.h"

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

struct WordRules {
    Regex contractions{contractionPattern()};
    Regex calendar{calendarPattern()};
};

const WordRules& wordRules() {
    // Never destroyed: background rewrites may still run while the process exits.
    static const WordRules* compiled = new WordRules();
    return *compiled;
}

} // namespace

std::string fixContractions(std::string_view text) {
    return wordRules().contractions.replaceEach(text, [](const RegexMatch& match) {
        const std::size_t group = matchedGroup(match);
        if (group == 0) return match.text();
        if (group <= kContractions.size()) return std::string(kContractions[group - 1].written);
        return std::string(kPronounRows[group - 1 - kContractions.size()].written);
    });
}

std::string capitalizeCalendar(std::string_view text) {
    return wordRules().calendar.replaceEach(text, [](const RegexMatch& match) {
        const std::size_t group = matchedGroup(match);
        if (group == 0) return match.text();
        return upperFirst(CALENDAR_WORDS[group - 1]);
    });
}

} // namespace vak
