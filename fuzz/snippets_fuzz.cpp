// A snippets file and a transcript (cut at the first NUL byte): each cue inserts one snippet's
// text, literally, so the result can never outgrow the cues times the longest text.
#include "base/regex.h"
#include "base/unicode.h"
#include "fuzz_support.h"
#include "text/snippets.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const auto [file, rawText] = twoParts(bytesOf(data, size));
    const vak::SnippetMap snippets = vak::parseSnippets(file);
    const std::string text = vak::sanitizeUtf8(rawText);
    const std::string out = vak::SnippetExpander(snippets).apply(text);
    std::size_t longest = 0;
    for (const auto& [trigger, inserted] : snippets)
        longest = std::max(longest, inserted.size());
    static const vak::Regex cue("(?i)snippet");
    const std::size_t cues = cue.allMatches(text).size();
    require(out.size() <= text.size() + cues * longest, "each cue inserts one text");
    return 0;
}
