#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace vak {

struct HistorySettings;

// --history [N]: prints the last N records (10 without N), oldest first, as "YYYY-MM-DD HH:MM  "
// + text, opened in memory only. Records that do not open are skipped and counted on `err`.
// Returns 0; 1 when the keyring holds no key to open them with; 2 for an N that is not a
// positive whole number. With privacy mode on it says that history is off and how to turn it on.
int runHistoryMode(const std::optional<std::string>& count, std::ostream& out, std::ostream& err,
                   const HistorySettings& settings);
// The same with the process's configuration, history file and secret store.
int runHistoryMode(const std::optional<std::string>& count);

} // namespace vak
