#include "text/learned_words.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "text/words.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace vak {

namespace {

// Several transcripts may be formatted at once (a decode race, chunk decodes); each
// read-modify-write of the two files happens under this lock, so no update is lost.
std::mutex& dictionaryMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

// Splits at "\n"; a "\r" before the break belongs to the break.
std::vector<std::string_view> splitLines(std::string_view content) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos <= content.size()) {
        const std::size_t newline = content.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? content.size() : newline;
        lines.push_back(content.substr(pos, end - pos));
        if (newline == std::string_view::npos) break;
        pos = end + 1;
    }
    return lines;
}

std::string_view withoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Whether one of the comma-separated variants of `existing`, trimmed and lower-cased, is
// `variant`.
bool listsVariant(std::string_view existing, std::string_view variant) {
    std::size_t pos = 0;
    while (pos <= existing.size()) {
        const std::size_t comma = existing.find(',', pos);
        const std::size_t end = comma == std::string_view::npos ? existing.size() : comma;
        if (toLower(trim(existing.substr(pos, end - pos), CharClass::Blanks)) == variant)
            return true;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    return false;
}

// Adds `variant` to the first line of `lines` for `canonical`; false when there is none or
// the variant is listed already.
bool addVariant(std::vector<std::string>& lines, std::string_view variant,
                std::string_view canonical) {
    for (std::string& line : lines) {
        const std::string_view body = withoutCarriageReturn(line);
        const bool crlf = body.size() != line.size();
        const std::size_t bar = body.find('|');
        const std::string_view head = bar == std::string_view::npos ? body : body.substr(0, bar);
        if (trim(head, CharClass::Blanks) != canonical) continue;

        const std::string_view existing =
            bar == std::string_view::npos ? std::string_view() : body.substr(bar + 1);
        if (listsVariant(existing, variant)) return false;
        std::string rewritten = std::string(canonical) + "|";
        rewritten += existing.empty() ? std::string(variant)
                                      : std::string(existing) + "," + std::string(variant);
        if (crlf) rewritten += '\r';
        line = std::move(rewritten);
        return true;
    }
    return false;
}

// Promotes every note into the dictionary with one rewrite of the file.
void promoteLocked(const std::vector<const VariantNote*>& notes, const LearnedFiles& files) {
    if (notes.empty()) return;
    const auto content = readUserText(files.words);
    if (!content) return;
    std::vector<std::string> lines;
    for (std::string_view line : splitLines(*content))
        lines.emplace_back(line);
    std::vector<std::string_view> taught;
    for (const VariantNote* note : notes) {
        if (addVariant(lines, note->variant, note->canonical)) taught.push_back(note->canonical);
    }
    if (taught.empty() || !saveUserFile(files.words, join(lines, "\n"))) return;
    for (std::string_view canonical : taught)
        log(LogLevel::info,
            "dictionary taught itself a new spelling for " + std::string(canonical));
}

// A form that fits on a dictionary line: no line break or comma would split it.
bool rememberable(const VariantNote& note) {
    return !note.variant.empty() && !note.canonical.empty() &&
           note.variant.find_first_of("\n\r,") == std::string::npos &&
           note.canonical.find_first_of("\n\r") == std::string::npos;
}

// The candidate lines, or nothing when the file is there but cannot be read (rewriting it
// would lose whatever it holds).
std::optional<std::vector<std::string>> readCandidates(const std::string& path) {
    std::vector<std::string> lines;
    if (!pathExists(path)) return lines;
    const auto content = readUserText(path);
    if (!content) return std::nullopt;
    for (std::string_view line : splitLines(*content)) {
        line = withoutCarriageReturn(line);
        if (!line.empty()) lines.emplace_back(line);
    }
    return lines;
}

} // namespace

LearnedFiles LearnedFiles::from(const ProcessValues& values) {
    return {values.LEARNED_PATH, values.file(UserFile::VariantCandidates)};
}

std::vector<LearnedWord> parseLearnedWords(std::string_view content) {
    std::vector<LearnedWord> words;
    for (std::string_view raw : splitLines(content)) {
        const std::string line = trim(withoutCarriageReturn(raw), CharClass::Blanks);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t bar = line.find('|');
        LearnedWord word;
        word.canonical = trim(std::string_view(line).substr(0, bar), CharClass::Blanks);
        if (word.canonical.empty()) continue;
        if (bar != std::string::npos) {
            const std::string_view rest = std::string_view(line).substr(bar + 1);
            std::size_t pos = 0;
            while (pos <= rest.size()) {
                const std::size_t comma = rest.find(',', pos);
                const std::size_t end = comma == std::string_view::npos ? rest.size() : comma;
                std::string variant = trim(rest.substr(pos, end - pos), CharClass::Blanks);
                if (!variant.empty()) word.variants.push_back(std::move(variant));
                if (comma == std::string_view::npos) break;
                pos = comma + 1;
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<LearnedWord> loadLearnedWords(const std::string& path) {
    const auto content = readUserText(path);
    return content ? parseLearnedWords(*content) : std::vector<LearnedWord>{};
}

void recordVariantNotes(const std::vector<VariantNote>& notes, const LearnedFiles& files) {
    std::vector<const VariantNote*> wanted;
    for (const VariantNote& note : notes) {
        if (rememberable(note)) wanted.push_back(&note);
    }
    if (wanted.empty()) return;
    std::lock_guard lock(dictionaryMutex());
    auto lines = readCandidates(files.candidates);
    if (!lines) return;

    std::unordered_set<std::string> present(lines->begin(), lines->end());
    std::unordered_set<std::string> leaving;
    std::vector<const VariantNote*> promoted;
    std::vector<std::string> added;
    for (const VariantNote* note : wanted) {
        std::string entry = note->canonical + "|" + note->variant;
        if (leaving.contains(entry)) continue;
        if (present.contains(entry) || note->sightings >= 2) {
            promoted.push_back(note);
            leaving.insert(std::move(entry));
        } else {
            present.insert(entry);
            added.push_back(std::move(entry));
        }
    }
    std::erase_if(*lines, [&](const std::string& line) { return leaving.contains(line); });
    std::erase_if(added, [&](const std::string& line) { return leaving.contains(line); });
    lines->insert(lines->end(), added.begin(), added.end());
    // The oldest candidates give way: a form heard once long ago is the least likely to return.
    if (lines->size() > kMaxVariantCandidates)
        lines->erase(lines->begin(), lines->begin() + static_cast<std::ptrdiff_t>(
                                                          lines->size() - kMaxVariantCandidates));
    saveUserFile(files.candidates, lines->empty() ? std::string() : join(*lines, "\n") + "\n");
    promoteLocked(promoted, files);
}

void promoteVariant(std::string_view variant, std::string_view canonical,
                    const LearnedFiles& files) {
    const VariantNote note{std::string(variant), std::string(canonical), 2};
    std::lock_guard lock(dictionaryMutex());
    promoteLocked({&note}, files);
}

} // namespace vak
