#include "text/learned_words.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"

#include <algorithm>
#include <mutex>

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

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += '\n';
        out += lines[i];
    }
    return out;
}

void promoteLocked(std::string_view variant, std::string_view canonical,
                   const LearnedFiles& files) {
    const auto content = readTextFile(files.words);
    if (!content) return;
    std::vector<std::string> lines;
    for (std::string_view line : splitLines(*content))
        lines.emplace_back(line);

    for (std::string& line : lines) {
        const std::string_view body = withoutCarriageReturn(line);
        const bool crlf = body.size() != line.size();
        const std::size_t bar = body.find('|');
        const std::string_view head = bar == std::string_view::npos ? body : body.substr(0, bar);
        if (trim(head, CharClass::Blanks) != canonical) continue;

        const std::string_view existing =
            bar == std::string_view::npos ? std::string_view() : body.substr(bar + 1);
        std::size_t pos = 0;
        while (pos <= existing.size()) {
            const std::size_t comma = existing.find(',', pos);
            const std::size_t end = comma == std::string_view::npos ? existing.size() : comma;
            if (toLower(trim(existing.substr(pos, end - pos), CharClass::Blanks)) == variant)
                return;
            if (comma == std::string_view::npos) break;
            pos = comma + 1;
        }
        std::string rewritten = std::string(canonical) + "|";
        rewritten += existing.empty() ? std::string(variant)
                                      : std::string(existing) + "," + std::string(variant);
        if (crlf) rewritten += '\r';
        line = std::move(rewritten);
        if (writeFileAtomic(files.words, joinLines(lines), 0600)) {
            log(LogLevel::info,
                "dictionary taught itself a new spelling for " + std::string(canonical));
        }
        return;
    }
}

} // namespace

LearnedFiles LearnedFiles::standard() {
    const ProcessValues& values = processValues();
    return {values.LEARNED_PATH, values.dictationDir() + "/.variant-candidates"};
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
    const auto content = readTextFile(path);
    return content ? parseLearnedWords(*content) : std::vector<LearnedWord>{};
}

std::vector<LearnedWord> loadLearnedWords() {
    return loadLearnedWords(processValues().LEARNED_PATH);
}

void noteFuzzyVariant(std::string_view variant, std::string_view canonical,
                      const LearnedFiles& files) {
    // A line break or comma in the form would split the dictionary line it ends up on.
    if (variant.empty() || canonical.empty() ||
        variant.find_first_of("\n\r,") != std::string_view::npos ||
        canonical.find_first_of("\n\r") != std::string_view::npos) {
        return;
    }
    std::lock_guard lock(dictionaryMutex());
    std::vector<std::string> lines;
    if (pathExists(files.candidates)) {
        const auto content = readTextFile(files.candidates);
        if (!content) {
            // Rewriting it would lose whatever it holds; leave it for a person to look at.
            log(LogLevel::warning,
                "cannot read " + files.candidates + " as UTF-8 — spelling not remembered");
            return;
        }
        for (std::string_view line : splitLines(*content)) {
            line = withoutCarriageReturn(line);
            if (!line.empty()) lines.emplace_back(line);
        }
    }
    const std::string entry = std::string(canonical) + "|" + std::string(variant);
    if (std::find(lines.begin(), lines.end(), entry) == lines.end()) {
        lines.push_back(entry);
        writeFileAtomic(files.candidates, joinLines(lines) + "\n", 0600);
        return;
    }
    std::erase(lines, entry);
    writeFileAtomic(files.candidates, lines.empty() ? std::string() : joinLines(lines) + "\n",
                    0600);
    promoteLocked(variant, canonical, files);
}

void noteFuzzyVariant(std::string_view variant, std::string_view canonical) {
    noteFuzzyVariant(variant, canonical, LearnedFiles::standard());
}

void promoteVariant(std::string_view variant, std::string_view canonical,
                    const LearnedFiles& files) {
    std::lock_guard lock(dictionaryMutex());
    promoteLocked(variant, canonical, files);
}

void promoteVariant(std::string_view variant, std::string_view canonical) {
    promoteVariant(variant, canonical, LearnedFiles::standard());
}

} // namespace vak
