#pragma once

#include "foundation/process_values.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// One entry of the user's dictionary: the spelling to enforce and the forms the speech engine
// has been heard to produce instead (kept as written).
struct LearnedWord {
    std::string canonical;
    std::vector<std::string> variants;

    bool operator==(const LearnedWord&) const = default;
};

// The dictionary file ("Canonical|variant,variant" lines) and the file of misheard forms seen
// once ("Canonical|variant" lines).
struct LearnedFiles {
    std::string words;
    std::string candidates;

    // The files of `values`: ~/.dictation/learned-words.txt and ~/.dictation/.variant-candidates.
    static LearnedFiles from(const ProcessValues& values);
};

// Entries in file order. Blank lines and "#" comments are skipped; a line without "|" is an
// entry without variants; empty variants are dropped. Windows line endings are accepted.
std::vector<LearnedWord> parseLearnedWords(std::string_view content);
// The dictionary at `path`, read afresh; empty when missing or not readable as UTF-8.
std::vector<LearnedWord> loadLearnedWords(const std::string& path);

// A misheard form the sound-alike stage corrected, seen once or (at most counted) twice in one
// transcript.
struct VariantNote {
    std::string variant; // lower case, as heard
    std::string canonical;
    int sightings = 1;

    bool operator==(const VariantNote&) const = default;
};

// Remembers what one transcript's corrections taught, reading and writing each file at most
// once. A form not seen before becomes a candidate line; a form already a candidate, or seen
// twice in this transcript, leaves the candidates and is promoted into the dictionary. Forms
// that one dictionary line cannot hold (a line break or a comma inside) are not remembered. The
// candidates file keeps its newest kMaxVariantCandidates lines. Failures to write are ignored:
// the corrections in the text stand regardless.
void recordVariantNotes(const std::vector<VariantNote>& notes, const LearnedFiles& files);
inline constexpr std::size_t kMaxVariantCandidates = 500;

// Appends `variant` to the variants of the first dictionary line for `canonical`, unless it is
// there already. Comments, blank lines and the final line break of the file survive.
void promoteVariant(std::string_view variant, std::string_view canonical,
                    const LearnedFiles& files);

} // namespace vak
