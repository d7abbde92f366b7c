#include "text/self_corrections.h"

#include "base/regex.h"
#include "text/words.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vak {

namespace {

const Regex& correctionCue() {
    // Never destroyed: background rewrites may still run while the process exits.
    static const Regex* cue = new Regex(
        R"((?i)\b(?:no,?[\s]+wait|wait,?[\s]+no|scratch that|actually,?[\s]+no|no,?[\s]+actually|i mean,)\b[,.]?[\s]*)");
    return *cue;
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

} // namespace

std::string resolveSelfCorrections(std::string_view input) {
    const Regex& cue = correctionCue();
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

} // namespace vak
