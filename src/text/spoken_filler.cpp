#include "text/spoken_filler.h"

#include "base/regex.h"
#include "base/unicode.h"
#include "text/collapse_repeats.h"

#include <vector>

namespace vak {

namespace {

std::string stutterPattern() {
    std::string pattern = "(?i)\\b(";
    bool first = true;
    for (std::string_view word : STUTTER_WORDS) {
        if (!first) pattern += '|';
        pattern += word;
        first = false;
    }
    // A whole run of the same word, so that "the the the" does not leave "the the".
    return pattern + ")(?:[\\s]+\\1\\b)+";
}

std::string stuttersWithoutRegex(std::string_view text) {
    return collapseRepeats(text, Repeats::stutters);
}

struct FillerRules {
    Regex opener{R"((?i)^(?:ok(?:ay)?|so|yeah|alright|well|anyway|um|uh)[,]?[\s]+)"};
    std::vector<RegexRule> filler = {
        {Regex(R"((?i),[\s]*(?:like|you know|i mean|i guess)[\s]*,)"), ","},
        {Regex(R"((?i)\b(?:you know|i guess|basically|literally)[\s]*,[\s]*)"), ""},
        {Regex(
             R"((?i),?[\s]*(?:you know what i mean|if that makes sense|or whatever|and stuff(?: like that)?|and everything)[\s]*([,.?!]|$))"),
         "$1"},
        // The pattern keeps a backtracking frame per repeat; a run of some hundred thousand
        // exhausts ICU's stack, and collapseRepeats takes over.
        {Regex(stutterPattern()), "$1", stuttersWithoutRegex},
        {Regex(R"([\s][\s]+)"), " "},
    };
};

const FillerRules& fillerRules() {
    // Never destroyed: background rewrites may still run while the process exits.
    static const FillerRules* compiled = new FillerRules();
    return *compiled;
}

} // namespace

std::string stripSpokenFiller(std::string_view input) {
    const FillerRules& r = fillerRules();
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

} // namespace vak
