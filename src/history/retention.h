#pragma once

#include "foundation/process_values.h"

#include <cstddef>
#include <string>

namespace vak {

struct RetentionFiles {
    std::string historyPath;
    std::string logPath;
};

// Start-up sweep. With `historyDays` 0 the history file is deleted and nothing else happens.
// Otherwise history records dated before now − days are removed (and lines whose time field is
// damaged), with one log line when any went; then a log of more than 4000 lines is cut to its
// last 2000. Records are never decrypted: the clear time field decides. A log that is not valid
// UTF-8 is left exactly as it is. The first form sweeps the files and keeps the days of `values`
// at the current time.
void retentionSweep(const ProcessValues& values);
void retentionSweep(const RetentionFiles& files, int historyDays, double nowSeconds);

// The log cap: more than this many lines are cut to the last kLogLinesKept.
inline constexpr std::size_t kLogLineLimit = 4000;
inline constexpr std::size_t kLogLinesKept = 2000;

} // namespace vak
