// The sentence clean-up stages that do their work without a pattern, against what the patterns
// themselves do: self-corrections resolved in one pass against the cue pattern applied from the
// start after every cut, and the stutter collapser against the stutter pattern.
#include "base/regex.h"
#include "base/unicode.h"
#include "text/collapse_repeats.h"
#include "text/self_corrections.h"
#include "text/words.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Self-corrections exactly as described: the first cue from the start, every time.
std::string resolveOneAtATime(std::string text) {
    static const vak::Regex cue(
        R"((?i)\b(?:no,?\s+wait|wait,?\s+no|scratch that|actually,?\s+no|no,?\s+actually|i mean,)\b[,.]?\s*)");
    while (const auto match = cue.firstMatch(text)) {
        const std::string before = text.substr(0, match->begin);
        const std::string after = text.substr(match->end);
        const auto afterWords = vak::splitWords(after);
        if (!afterWords.empty() && afterWords.size() <= 3) {
            auto words = vak::splitWords(before);
            words.resize(words.size() > afterWords.size() ? words.size() - afterWords.size() : 0);
            words.insert(words.end(), afterWords.begin(), afterWords.end());
            text = vak::joinWords(words);
        } else if (const auto comma = before.rfind(','); comma != std::string::npos) {
            text = before.substr(0, comma) + ", " + after;
        } else {
            text = after;
        }
    }
    return text;
}

// Fuzz bytes become text made mostly of the words the stages react to, so the two sides meet
// cues, commas and stutters on every run rather than once in a million.
std::string textFrom(const std::uint8_t* data, std::size_t size) {
    static const char* const pieces[] = {
        "no",  "wait", "actually", "scratch", "that", "i",      "mean,",     "the",
        "The", "an",   "a",        "and",     ",",    ", ",     " ",         "  ",
        "\t",  "\n",   ".",        "x",       "word", "longer", "i\xc5\xbf", "\xcc\x81",
        "-",   "no,",  "wait,",    "is",      "it",   "\xff",   "for",       "with"};
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b < 32 * 6) {
            text += pieces[b % 32];
            if (b / 32 % 2 == 0) text += ' ';
        } else {
            text += static_cast<char>(b);
        }
    }
    return text;
}

void check(bool ok, const char* what, const std::string& input) {
    if (ok) return;
    std::fprintf(stderr, "%s differs for: '%s'\n", what, input.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    // The stages see sanitised text (a pattern replacement would turn bad bytes into U+FFFD).
    const std::string text = vak::sanitizeUtf8(textFrom(data, size));
    check(vak::resolveSelfCorrections(text) == resolveOneAtATime(text), "self-corrections", text);
    static const vak::Regex stutter(
        R"((?i)\b(the|a|an|to|of|in|on|at|and|but|or|we|i|it|is|was|for|with)(?:\s+\1\b)+)");
    check(vak::collapseRepeats(text, vak::Repeats::stutters) == stutter.replace(text, "$1"),
          "stutters", text);
    return 0;
}
