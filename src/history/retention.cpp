#include "history/retention.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

namespace vak {

namespace {

constexpr double kSecondsPerDay = 86400;

// The record's time: its first tab-separated field as a finite decimal number.
std::optional<double> recordTime(std::string_view line) {
    std::string_view field = line.substr(0, line.find('\t'));
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || error != std::errc() || end != field.data() + field.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

void pruneHistory(const std::string& historyPath, int historyDays, double nowSeconds) {
    // Read as bytes, not as text: one damaged byte must not exempt every record from retention.
    const auto bytes = readFileBytes(historyPath);
    if (!bytes) return;
    const double cutoff = nowSeconds - historyDays * kSecondsPerDay;
    std::size_t total = 0;
    std::string kept;
    std::string_view rest = *bytes;
    while (!rest.empty()) {
        const auto newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        if (line.empty()) continue;
        ++total;
        const auto time = recordTime(line);
        if (time && *time >= cutoff) {
            kept += line;
            kept += '\n';
        }
    }
    const std::size_t keptCount =
        static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\n'));
    const std::size_t removed = total - keptCount;
    if (removed == 0) return;
    writeFileAtomic(historyPath, kept, 0600);
    log(LogLevel::info, "retention: removed " + std::to_string(removed) + " history entries past " +
                            std::to_string(historyDays) + " days");
}

// The last kLogLinesKept lines of `text` when it has more than kLogLineLimit; a final line
// break ends the last line rather than starting an empty one.
std::optional<std::string> cappedLog(const std::string& text) {
    std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (!text.empty() && text.back() != '\n') ++lines;
    if (lines <= kLogLineLimit) return std::nullopt;
    std::size_t start = 0;
    for (std::size_t skipped = 0; skipped < lines - kLogLinesKept; ++skipped)
        start = text.find('\n', start) + 1;
    std::string capped = text.substr(start);
    if (capped.back() != '\n') capped += '\n';
    return capped;
}

void capLog(const std::string& logPath) {
    editLogFile(logPath, [](const std::optional<std::string>& bytes) -> std::optional<std::string> {
        // A log that is not UTF-8 is left alone rather than cut at a guess.
        if (!bytes || !isValidUtf8(*bytes)) return std::nullopt;
        return cappedLog(*bytes);
    });
}

} // namespace

void retentionSweep(const ProcessValues& values) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    retentionSweep({values.HISTORY_PATH, values.LOG}, values.cfg.historyDays, now);
}

void retentionSweep(const RetentionFiles& files, int historyDays, double nowSeconds) {
    if (historyDays <= 0) {
        removeFile(files.historyPath);
        return;
    }
    pruneHistory(files.historyPath, historyDays, nowSeconds);
    capLog(files.logPath);
}

} // namespace vak
