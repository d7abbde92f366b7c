#pragma once

#include "history/crypto.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

class SecretStore;

// Fingerprint of a delivered text for the log: the first 6 hex digits of its SHA-256.
std::string shortHash(std::string_view text);

// The key that seals history records, from the secret store: the stored item when it holds
// exactly 32 bytes; otherwise (no item, or one of the wrong length) a fresh random key replaces
// it. Nothing, after one warning line, when the store has no usable answer or refuses the new
// key. A store that cannot be read at all is never overwritten: its key may be fine.
std::optional<AesKey> historyKey(SecretStore* store);

// One history line: whole seconds since 1970, a tab, the Base64 of the AES-256-GCM box (nonce,
// ciphertext, tag) sealing tag + "\t" + text, and "\n". Nothing when sealing fails.
std::optional<std::string> sealHistoryRecord(const AesKey& key, std::string_view text,
                                             std::string_view tag, std::int64_t unixSeconds);

// Appends one sealed record to the history file (created 0600, kept 0600) and reports whether it
// was written; without a key nothing is. A file whose last line was cut short
// keeps that line to itself: the new record starts on a line of its own.
bool appendHistory(const std::string& historyPath, SecretStore* store, std::string_view text,
                   std::string_view tag, std::int64_t unixSeconds);

// What every reader of the history says while privacy mode keeps none.
inline constexpr std::string_view HISTORY_OFF_TEXT =
    "History is off: privacy mode keeps your words off the disk. To keep an encrypted history, "
    "set PRIVACY_MODE=0 in ~/.dictation/config and restart vak-dictate.";

// One record read back.
struct HistoryRecord {
    std::int64_t unixSeconds = 0;
    std::string tag;
    std::string text;
};

struct HistoryReading {
    std::vector<HistoryRecord> records; // oldest first
    std::size_t skipped = 0;            // damaged, tampered with, or sealed under another key
    bool keyMissing = false;            // the store holds no usable key: nothing can be opened
};

// The last `count` records of the history file, opened in memory only; the file is never
// written and no key is ever made. A record that does not open is skipped and counted, never
// fatal. A missing file reads as no records.
HistoryReading readHistory(const std::string& historyPath, SecretStore* store, std::size_t count);

// Where a delivered text is recorded.
struct HistorySettings {
    bool privacyMode{};
    std::string historyPath;
    SecretStore* store = nullptr;
};

// The per-dictation log line ("✓" + tag + " " + words + " words · " + shortHash), and, with
// privacy mode off, a sealed history record first; the line then ends in
// " · saved to encrypted history" when the record was made. A text that did not reach its
// window has a `caveat` saying where it is instead: the line is then a warning starting with it.
// The text itself never reaches the log. May wait for the secret store (keep it off the main
// thread).
void logTranscript(std::string_view text, std::string_view tag, const HistorySettings& settings,
                   std::string_view caveat = {});

} // namespace vak
