#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

// What a log line reports; each level has the glyph the line starts with, so a reader (or grep)
// tells a failure from an event at a glance.
enum class LogLevel {
    ok,         // "✓" success
    warning,    // "⚠️" recoverable problem
    serious,    // "‼️" serious problem
    toolError,  // "!!" an outside tool failed
    abandoned,  // "✕" given up or cancelled
    info,       // "·" information
    recording,  // "●" recording started
    stopped,    // "■" recording stopped
    timer,      // "⏱" a timer fired
    fast,       // "⚡" a fast path was taken
    cloud,      // "☁" the cloud engine
    audio,      // "♪" audio conditioned
    soundAlike, // "≈" a sound-alike correction
    command,    // "🎯" command mode
    banner,     // "▶" the start-up banner
    testSignal, // "⌨︎" a test signal
    question,   // "?" the user is asked
    nothing,    // "…" nothing was produced
    producer,   // "🎛" the producer link
    privacy,    // "🔒" privacy housekeeping
};

// The glyph a line of `level` starts with.
std::string_view logGlyph(LogLevel level);

// Appends "[MM-dd HH:mm:ss] " + glyph + " " + words + "\n" (local time) to the log file and
// writes the same bytes to standard error. Safe from any thread; lines never interleave; never
// fails towards the caller (an unwritable log file still leaves the line on standard error). The
// file is created 0600.
void log(LogLevel level, std::string_view words);

// Where log() appends; set once while the process values are created. Until then, and when
// empty, lines go to standard error only.
void setLogPath(const std::string& path);

// Replaces the file at `path` (normally the log itself) by what `edit` makes of its current
// bytes, atomically and 0600, while log() is held off, so a line logged meanwhile by another
// thread is neither lost with the old file nor torn. `edit` gets nothing when the file cannot be
// read; it returns nothing to leave the file as it is, and must not log. True when replaced.
bool editLogFile(
    const std::string& path,
    const std::function<std::optional<std::string>(const std::optional<std::string>&)>& edit);

// The complete line for `message` at `when`.
std::string formatLogLine(std::time_t when, std::string_view message);

} // namespace vak
