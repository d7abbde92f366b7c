#pragma once

#include "text/learned_words.h"
#include "text/system_words.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vak {

// Four-character Soundex key ("Robert" → "R163"); empty for a word without letters.
std::string soundexKey(std::string_view word);

// Levenshtein distance over user-perceived characters, case-sensitive. Allocates nothing once the
// calling thread has measured words of the same length.
std::size_t editDistance(std::string_view a, std::string_view b);

// Equal ignoring case, one edit apart, or two edits apart with the same Soundex key.
bool wordsSoundClose(std::string_view a, std::string_view b);

// A sound-alike pass's text and the misheard forms it corrected, for recordVariantNotes.
struct SoundAlikeResult {
    std::string text;
    std::vector<VariantNote> notes;
};

// The dictionary prepared once for matching: canonical spellings split into words, lower-cased,
// measured and keyed.
class SoundAlikeCorrector {
  public:
    explicit SoundAlikeCorrector(const std::vector<LearnedWord>& words);

    // Replaces words and phrases that sound like a canonical spelling, and words split in two
    // whose halves together do, keeping the trailing punctuation of what they replace. Real words
    // (in `common`) are never replaced by one-word entries. Logs each distinct correction and
    // notes it (at most kMaxNotesPerText of them); writes nothing.
    SoundAlikeResult correct(std::string_view text, const SystemWords& common) const;
    static constexpr std::size_t kMaxNotesPerText = 64;
    bool empty() const { return entries_.empty(); }

    // A word's length in user-perceived characters and the set of characters it holds (hashed
    // into 64 bits; known only for plain ASCII): enough to rule most pairs out without measuring
    // their distance.
    struct Shape {
        std::size_t length = 0;
        std::uint64_t characters = 0;
        bool charactersKnown = false;
    };
    struct Word {
        std::string text; // one word of the canonical spelling
        std::string lower;
        // Lower case without surrounding punctuation, as the transcript's words are compared:
        // "C#" written right is already right, not a near miss of itself.
        std::string bareLower;
        Shape shape;
        std::string soundex;
    };
    struct Entry {
        std::string canonical;
        std::vector<Word> words;
    };

  private:
    class Pass;
    std::vector<Entry> entries_;
    // Every canonical spelling and each of its words, lower case without surrounding
    // punctuation: what the dictionary itself spells is never turned into another entry ("C++"
    // stays when "C#" is in the dictionary too).
    std::unordered_set<std::string> spellings_;
};

} // namespace vak
