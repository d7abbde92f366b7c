#include "text/sound_alike.h"

#include "base/log.h"
#include "base/unicode.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <optional>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vak {

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string lowered(std::string_view text) {
    if (!isAscii(text)) return toLower(text);
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

char soundexCode(char32_t letter) {
    switch (letter) {
    case U'b':
    case U'f':
    case U'p':
    case U'v':
        return '1';
    case U'c':
    case U'g':
    case U'j':
    case U'k':
    case U'q':
    case U's':
    case U'x':
    case U'z':
        return '2';
    case U'd':
    case U't':
        return '3';
    case U'l':
        return '4';
    case U'm':
    case U'n':
        return '5';
    case U'r':
        return '6';
    default:
        return 0;
    }
}

// The run of characters at the end of `token` that are neither letters nor digits ("," or "?").
std::string_view trailingNonWord(std::string_view token) {
    std::size_t end = token.size();
    while (end > 0) {
        std::size_t previous = end;
        const auto c = static_cast<UChar32>(codePointBefore(token, end, previous));
        if (u_isalpha(c) || u_isdigit(c)) break;
        end = previous;
    }
    return token.substr(end);
}

// The canonical spelling followed by what trailed the replaced word, without repeating what the
// spelling already ends with ("c#," becomes "C#,", not "C##,").
std::string withTrail(const std::string& canonical, std::string_view replacedToken) {
    std::string_view trail = trailingNonWord(replacedToken);
    for (std::size_t k = std::min(trail.size(), canonical.size()); k > 0; --k) {
        if (std::string_view(canonical).substr(canonical.size() - k) == trail.substr(0, k)) {
            trail.remove_prefix(k);
            break;
        }
    }
    return canonical + std::string(trail);
}

// ASCII without CR: every byte is one user-perceived character.
bool plainAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r'; });
}

using Shape = SoundAlikeCorrector::Shape;

Shape shapeOf(std::string_view text) {
    Shape shape;
    if (plainAscii(text)) {
        shape.length = text.size();
        shape.charactersKnown = true;
        for (char c : text)
            shape.characters |= std::uint64_t{1} << (static_cast<unsigned>(c) & 63U);
    } else {
        shape.length = graphemeCount(text);
    }
    return shape;
}

// False only when the two cannot be within two edits: the distance is at least the difference
// in length, and each edit brings in at most one character the other word lacks.
bool mayBeWithinTwoEdits(const Shape& a, const Shape& b) {
    if (a.length > b.length + 2 || b.length > a.length + 2) return false;
    if (!a.charactersKnown || !b.charactersKnown) return true;
    return std::popcount(a.characters & ~b.characters) <= 2 &&
           std::popcount(b.characters & ~a.characters) <= 2;
}

// Levenshtein distance over units compared by `same(i, j)`, stopping early once every path
// costs more than `limit` (then some value above `limit` is returned). `row` is the caller's
// buffer, so nothing is allocated once it is big enough.
template <typename Same>
std::size_t levenshtein(std::size_t n, std::size_t m, Same same, std::size_t limit,
                        std::vector<std::size_t>& row) {
    if (n == 0) return m;
    if (m == 0) return n;
    row.resize(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        std::size_t best = row[0];
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (same(i - 1, j - 1) ? 0 : 1)});
            diagonal = above;
            best = std::min(best, row[j]);
        }
        if (best > limit) return best;
    }
    return row[m];
}

std::size_t editDistanceUpTo(std::string_view a, std::string_view b, std::size_t limit) {
    thread_local std::vector<std::size_t> row;
    if (plainAscii(a) && plainAscii(b)) {
        return levenshtein(
            a.size(), b.size(), [&](std::size_t i, std::size_t j) { return a[i] == b[j]; }, limit,
            row);
    }
    thread_local std::vector<std::size_t> boundsA;
    thread_local std::vector<std::size_t> boundsB;
    graphemeBoundaries(a, boundsA);
    graphemeBoundaries(b, boundsB);
    auto character = [](std::string_view text, const std::vector<std::size_t>& bounds,
                        std::size_t k) {
        return text.substr(bounds[k], bounds[k + 1] - bounds[k]);
    };
    return levenshtein(
        boundsA.size() - 1, boundsB.size() - 1,
        [&](std::size_t i, std::size_t j) {
            return character(a, boundsA, i) == character(b, boundsB, j);
        },
        limit, row);
}

struct Token {
    std::string raw;
    std::string cleaned; // without punctuation at either end
    std::string lower;   // of cleaned
    Shape shape;         // of cleaned
};

Token makeToken(std::string raw) {
    Token token;
    token.raw = std::move(raw);
    token.cleaned = std::string(trimPunctuation(token.raw));
    token.lower = lowered(token.cleaned);
    token.shape = shapeOf(token.cleaned);
    return token;
}

// wordsSoundClose with both sides prepared, cheapest tests first.
bool soundsClose(std::string_view text, std::string_view lower, const Shape& shape,
                 const SoundAlikeCorrector::Word& canonical) {
    if (lower == canonical.lower) return true;
    if (!mayBeWithinTwoEdits(shape, canonical.shape)) return false;
    const std::size_t distance = editDistanceUpTo(text, canonical.text, 2);
    if (distance <= 1) return true;
    return distance == 2 && soundexKey(text) == canonical.soundex;
}

// The split-word test: do `first` and `second` written together sound like `canonical`?
bool halvesSoundClose(const Token& first, const Token& second,
                      const SoundAlikeCorrector::Word& canonical) {
    Shape joined;
    joined.length = first.shape.length + second.shape.length;
    joined.characters = first.shape.characters | second.shape.characters;
    joined.charactersKnown = first.shape.charactersKnown && second.shape.charactersKnown;
    if (!joined.charactersKnown) {
        // Characters can merge across the seam; measure the real thing when it may matter.
        if (joined.length + 2 < canonical.shape.length ||
            joined.length > canonical.shape.length + 3) {
            return false;
        }
        const std::string combined = first.cleaned + second.cleaned;
        return soundsClose(combined, lowered(combined), shapeOf(combined), canonical);
    }
    const std::string_view lower = canonical.lower;
    if (lower.size() == first.lower.size() + second.lower.size() &&
        lower.starts_with(first.lower) && lower.ends_with(second.lower)) {
        return true;
    }
    if (!mayBeWithinTwoEdits(joined, canonical.shape)) return false;
    thread_local std::string combined;
    combined.assign(first.cleaned).append(second.cleaned);
    const std::size_t distance = editDistanceUpTo(combined, canonical.text, 2);
    if (distance <= 1) return true;
    return distance == 2 && soundexKey(combined) == canonical.soundex;
}

} // namespace

std::string soundexKey(std::string_view word) {
    std::u32string letters;
    for (char32_t c : toUtf32(lowered(word))) {
        if (u_isalpha(static_cast<UChar32>(c))) letters.push_back(c);
    }
    if (letters.empty()) return {};
    std::u32string key = toUtf32(toUpper(fromCodePoint(letters[0])));
    char last = soundexCode(letters[0]);
    for (std::size_t i = 1; i < letters.size() && key.size() < 4; ++i) {
        const char code = soundexCode(letters[i]);
        if (code != 0 && code != last) key.push_back(static_cast<char32_t>(code));
        // Vowels separate equal codes; h and w do not.
        if (letters[i] != U'h' && letters[i] != U'w') last = code;
    }
    key.resize(4, U'0');
    return fromUtf32(key);
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    return editDistanceUpTo(a, b, a.size() + b.size());
}

bool wordsSoundClose(std::string_view a, std::string_view b) {
    if (lowered(a) == lowered(b)) return true;
    const std::size_t distance = editDistance(a, b);
    if (distance <= 1) return true;
    return distance == 2 && soundexKey(a) == soundexKey(b);
}

SoundAlikeCorrector::SoundAlikeCorrector(const std::vector<LearnedWord>& words) {
    entries_.reserve(words.size());
    for (const LearnedWord& word : words) {
        Entry entry;
        entry.canonical = word.canonical;
        std::size_t pos = 0;
        const std::string_view canonical = word.canonical;
        while (pos < canonical.size()) {
            const std::size_t space = canonical.find(' ', pos);
            const std::size_t end = space == std::string_view::npos ? canonical.size() : space;
            if (end > pos) {
                Word part;
                part.text = std::string(canonical.substr(pos, end - pos));
                part.lower = lowered(part.text);
                part.bareLower = lowered(trimPunctuation(part.text));
                part.shape = shapeOf(part.text);
                part.soundex = soundexKey(part.text);
                entry.words.push_back(std::move(part));
            }
            pos = end + 1;
        }
        if (entry.words.empty()) continue;
        std::string spelling;
        for (const Word& part : entry.words) {
            spelling += (spelling.empty() ? "" : " ") + part.bareLower;
            spellings_.insert(part.bareLower);
        }
        spellings_.insert(std::move(spelling));
        entries_.push_back(std::move(entry));
    }
}

// One pass over one text: the tokens as the entries so far have left them, and the forms
// corrected on the way.
class SoundAlikeCorrector::Pass {
  public:
    Pass(const SoundAlikeCorrector& corrector, std::string_view text, const SystemWords& common)
        : corrector_(corrector), common_(common), tokens_(tokenize(text)) {}

    // Corrects the tokens against one entry in a single forward pass. A replacement shrinks
    // the list, so tokens are compacted as we go: [0, kept) is the new list, [next, size) what
    // is still to be visited.
    void correctEntry(const Entry& entry) {
        const std::size_t n = entry.words.size();
        if (n > tokens_.size()) return;
        std::size_t kept = 0;
        std::size_t next = 0;
        auto replace = [&](std::size_t count, const std::string& canonical, std::string variant,
                           bool split) {
            std::string replacement = withTrail(canonical, tokens_[next + count - 1].raw);
            next += count;
            tokens_[kept++] = makeToken(std::move(replacement));
            remember(std::move(variant), canonical, split);
        };
        while (tokens_.size() - next >= n) {
            if (auto variant = windowVariant(next, entry)) {
                replace(n, entry.canonical, std::move(*variant), false);
            } else if (auto halves = splitVariant(next, entry)) {
                replace(2, entry.canonical, std::move(*halves), true);
            } else {
                if (kept != next) tokens_[kept] = std::move(tokens_[next]);
                ++kept;
                ++next;
            }
        }
        while (next < tokens_.size()) {
            if (kept != next) tokens_[kept] = std::move(tokens_[next]);
            ++kept;
            ++next;
        }
        tokens_.resize(kept);
    }

    SoundAlikeResult finish(std::size_t reserve) {
        if (unnoted_ > 0) {
            log(LogLevel::soundAlike,
                "… and " + std::to_string(unnoted_) + " more sound-alike corrections");
        }
        SoundAlikeResult result;
        result.text.reserve(reserve);
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            if (i > 0) result.text += ' ';
            result.text += tokens_[i].raw;
        }
        result.notes = std::move(notes_);
        return result;
    }

  private:
    static std::vector<Token> tokenize(std::string_view text) {
        std::vector<Token> tokens;
        // One allocation: growing a list of a million tokens would move each several times.
        tokens.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), ' ')) + 1);
        std::size_t pos = 0;
        for (;;) {
            const std::size_t space = text.find(' ', pos);
            const std::size_t end = space == std::string_view::npos ? text.size() : space;
            tokens.push_back(makeToken(std::string(text.substr(pos, end - pos))));
            if (space == std::string_view::npos) return tokens;
            pos = end + 1;
        }
    }

    bool alreadyRight(std::size_t at, const Entry& entry) const {
        for (std::size_t k = 0; k < entry.words.size(); ++k) {
            if (tokens_[at + k].lower != entry.words[k].bareLower) return false;
        }
        return true;
    }

    // The misheard form when the tokens from `at` sound like the entry word by word; nothing
    // when they are the entry already, a real word a one-word entry must not replace, or what
    // another entry spells.
    std::optional<std::string> windowVariant(std::size_t at, const Entry& entry) const {
        const std::size_t n = entry.words.size();
        if (alreadyRight(at, entry)) return std::nullopt;
        for (std::size_t k = 0; k < n; ++k) {
            const Token& token = tokens_[at + k];
            if (token.cleaned.empty() ||
                !soundsClose(token.cleaned, token.lower, token.shape, entry.words[k]))
                return std::nullopt;
        }
        if (n == 1 && common_.contains(tokens_[at].lower)) return std::nullopt;
        std::string variant;
        for (std::size_t k = 0; k < n; ++k) {
            if (k > 0) variant += ' ';
            variant += tokens_[at + k].lower;
        }
        if (corrector_.spellings_.contains(variant)) return std::nullopt;
        return variant;
    }

    // "kuber netes" for "Kubernetes": the form when the token at `at` and the next one written
    // together sound like a one-word entry. A half that already is a dictionary word is not a
    // broken word ("a Vercel" stays), nor are two real words.
    std::optional<std::string> splitVariant(std::size_t at, const Entry& entry) const {
        if (entry.words.size() != 1 || at + 1 >= tokens_.size()) return std::nullopt;
        const Token& first = tokens_[at];
        const Token& second = tokens_[at + 1];
        if (first.lower == entry.words[0].bareLower) return std::nullopt; // right as it is
        if (first.cleaned.empty() || second.cleaned.empty() ||
            !halvesSoundClose(first, second, entry.words[0]) ||
            corrector_.spellings_.contains(first.lower) ||
            corrector_.spellings_.contains(second.lower) ||
            (common_.contains(first.lower) && common_.contains(second.lower)))
            return std::nullopt;
        return first.lower + " " + second.lower;
    }

    // Logs a form the first time this text corrects it and notes it; a form seen twice is
    // promoted, so further sightings change nothing.
    void remember(std::string variant, const std::string& canonical, bool split) {
        auto key = std::make_pair(std::move(variant), canonical);
        if (const auto it = seen_.find(key); it != seen_.end()) {
            notes_[it->second].sightings = 2;
            return;
        }
        if (notes_.size() >= kMaxNotesPerText) {
            ++unnoted_;
            return;
        }
        log(LogLevel::soundAlike,
            "sound-alike corrected to " + canonical + (split ? " (split word)" : ""));
        seen_.emplace(key, notes_.size());
        notes_.push_back({std::move(key.first), canonical, 1});
    }

    const SoundAlikeCorrector& corrector_;
    const SystemWords& common_;
    std::vector<Token> tokens_;
    std::map<std::pair<std::string, std::string>, std::size_t> seen_; // into notes_
    std::vector<VariantNote> notes_;
    std::size_t unnoted_ = 0;
};

SoundAlikeResult SoundAlikeCorrector::correct(std::string_view text,
                                              const SystemWords& common) const {
    if (entries_.empty()) return {std::string(text), {}};
    Pass pass(*this, text, common);
    for (const Entry& entry : entries_)
        pass.correctEntry(entry);
    return pass.finish(text.size());
}

} // namespace vak
