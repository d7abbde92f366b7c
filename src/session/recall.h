#pragma once

#include "foundation/scratch_files.h"
#include "history/history.h"
#include "text/formatting.h"
#include "transcribe/decode_router.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// What the user can get back after the fact, for the status menu and the command line: the last
// dictations of the encrypted history, and the recordings kept after every engine failed.

// How many dictations the status menu offers again.
inline constexpr std::size_t RECENT_DICTATIONS = 10;

// A history record on one line: its time ("YYYY-MM-DD HH:MM"), two blanks and the start of its
// text with its line breaks as blanks, cut after 60 characters with "…".
std::string recentDictationTitle(const HistoryRecord& record);
// "YYYY-MM-DD HH:MM, 12.3 s": when a kept recording was made and how long it is.
std::string keptRecordingTitle(const KeptRecording& recording);
// Why `count` records are missing from a reading: "1 record could not be opened (damaged, or
// sealed under another key)".
std::string unopenedRecordsText(std::size_t count);
// Why none of `count` records opens: the keyring holds no key for them.
std::string historyKeyMissingText(std::size_t count);
inline constexpr std::string_view NO_DICTATIONS_TEXT = "no dictations in the history yet";

// What the log and the pill say of a recording kept when its dictation was cut off (the daemon
// stopped or was killed during it): "kept 25 s of an interrupted dictation — Retry from the
// menu".
std::string interruptedDictationText(double seconds);

// At start: every recording a daemon that ended mid-dictation left in the scratch folder is kept
// as a failed recording (its header sizes set from its length), one log line each; empty and
// unreadable ones, and all of them when `historyDays` is 0 (nothing is to be kept), are left for
// the sweep. Returns what to tell the user, one text per recording.
std::vector<std::string> keepInterruptedRecordings(const ScratchFiles& scratch, int historyDays);

using DecodeCall = std::function<std::optional<std::string>(const DecodeRequest& request)>;
using FormatCall = std::function<std::string(std::string_view raw)>;

// A kept recording decoded again through the usual routing, formatted; nothing when no engine
// gave text (or the text formats to nothing). The recording stays where it is either way: Delete
// in the status menu or the retention sweep removes it. The decoder's output, textBase + ".txt",
// is removed. One log line, without the words. Blocks the calling thread.
std::optional<std::string> retryKeptRecording(const std::string& wav, const std::string& textBase,
                                              const DecodeCall& decode, const FormatCall& format);
// With the engines of `decode` and the formatting of `sources` (learned words included).
std::optional<std::string> retryKeptRecording(const std::string& wav, const std::string& textBase,
                                              const DecodeSettings& decode,
                                              const TranscriptSources& sources);

} // namespace vak
