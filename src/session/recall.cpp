#include "session/recall.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/time_util.h"
#include "base/unicode.h"
#include "text/formatting.h"
#include "text/words.h"

#include <cmath>
#include <filesystem>
#include <vector>

namespace vak {

namespace {

constexpr std::size_t kPreviewCharacters = 60;

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

std::string recentDictationTitle(const HistoryRecord& record) {
    // One line whatever the text holds: every run of blanks and breaks becomes one blank.
    std::string flat;
    for (const char c : trim(record.text)) {
        const bool blank = c == ' ' || c == '\n' || c == '\t' || c == '\r';
        if (!blank) {
            flat += c;
        } else if (!flat.empty() && flat.back() != ' ') {
            flat += ' ';
        }
    }
    std::vector<std::size_t> starts;
    graphemeBoundaries(flat, starts);
    if (starts.size() > kPreviewCharacters + 1) {
        flat = trim(std::string_view(flat).substr(0, starts[kPreviewCharacters])) + "…";
    }
    return localMinuteText(static_cast<std::time_t>(record.unixSeconds)) + "  " + flat;
}

std::string keptRecordingTitle(const KeptRecording& recording) {
    return localMinuteText(recording.modified) + ", " + fixedDecimals(recording.seconds, 1) + " s";
}

std::string unopenedRecordsText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " record" : " records") +
           " could not be opened (damaged, or sealed under another key)";
}

std::string historyKeyMissingText(std::size_t count) {
    return "the keyring holds no history key, so none of the " + std::to_string(count) +
           (count == 1 ? " record" : " records") + " can be opened";
}

std::string interruptedDictationText(double seconds) {
    // Under ten seconds a tenth matters; above, whole seconds read better.
    const std::string amount =
        seconds < 10 ? fixedDecimals(seconds, 1) : std::to_string(std::lround(seconds));
    return "kept " + amount + " s of an interrupted dictation — Retry from the menu";
}

std::vector<std::string> keepInterruptedRecordings(const ScratchFiles& scratch, int historyDays) {
    std::vector<std::string> told;
    if (historyDays <= 0) return told;
    for (const auto& stale : scratch.staleRecordings()) {
        const auto bytes = patchWavSizesFromLength(stale.path);
        if (!bytes || *bytes == 0) continue;
        const auto kept = scratch.keepFailedRecording(stale.path, stale.session);
        if (!kept) continue;
        const std::string text =
            interruptedDictationText(static_cast<double>(*bytes) / kBytesPerSecond);
        log(LogLevel::warning, text + " · " + fileName(*kept) + " · or vak-dictate --retry-failed");
        told.push_back(text);
    }
    return told;
}

std::optional<std::string> retryKeptRecording(const std::string& wav, const std::string& textBase,
                                              const DecodeCall& decode, const FormatCall& format) {
    const auto raw = decode({wav, textBase, DecodeRoute::Auto});
    removeFile(textBase + ".txt");
    std::optional<std::string> text;
    if (raw) text = format(*raw);
    if (!text || text->empty()) {
        log(LogLevel::warning, "retry of " + fileName(wav) +
                                   " gave no text again — the recording stays for another try");
        return std::nullopt;
    }
    log(LogLevel::ok,
        "retry of " + fileName(wav) + " gave " + std::to_string(countWords(*text)) + " words");
    return text;
}

std::optional<std::string> retryKeptRecording(const std::string& wav, const std::string& textBase,
                                              const DecodeSettings& decode,
                                              const TranscriptSources& sources) {
    return retryKeptRecording(
        wav, textBase,
        [&decode](const DecodeRequest& request) { return runWhisper(request, decode); },
        [&sources](std::string_view raw) { return formatAndLearn(raw, sources); });
}

} // namespace vak
