#include "app/cli_history.h"

#include "base/time_util.h"
#include "foundation/process_values.h"
#include "history/history.h"
#include "platform/secret_store.h"
#include "session/recall.h"

#include <charconv>
#include <iostream>

namespace vak {

namespace {

constexpr std::size_t kDefaultCount = 10;

std::optional<std::size_t> parseCount(const std::optional<std::string>& text) {
    if (!text) return kDefaultCount;
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), count);
    if (error != std::errc() || end != text->data() + text->size() || count == 0)
        return std::nullopt;
    return count;
}

} // namespace

int runHistoryMode(const std::optional<std::string>& count, std::ostream& out, std::ostream& err,
                   const HistorySettings& settings) {
    const auto n = parseCount(count);
    if (!n) {
        err << "--history takes a positive number of records, not \"" << *count << "\"\n";
        return 2;
    }
    if (settings.privacyMode) {
        out << HISTORY_OFF_TEXT << "\n";
        return 0;
    }
    const HistoryReading reading = readHistory(settings.historyPath, settings.store, *n);
    if (reading.keyMissing && reading.skipped > 0) {
        err << historyKeyMissingText(reading.skipped) << "\n";
        return 1;
    }
    if (reading.records.empty() && reading.skipped == 0) out << NO_DICTATIONS_TEXT << "\n";
    for (const auto& record : reading.records)
        out << localMinuteText(static_cast<std::time_t>(record.unixSeconds)) << "  " << record.text
            << "\n";
    if (reading.skipped > 0) err << unopenedRecordsText(reading.skipped) << ", skipped\n";
    return 0;
}

int runHistoryMode(const std::optional<std::string>& count) {
    const auto store = secretStore();
    return runHistoryMode(count, std::cout, std::cerr,
                          {cfg().privacyMode, processValues().HISTORY_PATH, store.get()});
}

} // namespace vak
