#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

// How bad what a log line reports is.
enum class Severity {
    ok,        // "✓" success
    info,      // "·" information
    warning,   // "⚠️" recoverable problem
    serious,   // "‼️" serious problem
    abandoned, // "✕" given up or cancelled
};

// What a line is about, where its glyph says so at a glance.
enum class LogTopic {
    none,
    tool,       // "!!" an outside tool
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

// A log line's severity and topic; the line starts with its topic's glyph, or its severity's
// when it has no topic, so a reader (or grep) tells a failure from an event. The named kinds
// below are the ones the program logs.
struct LogLevel {
    Severity severity = Severity::info;
    LogTopic topic = LogTopic::none;

    bool operator==(const LogLevel&) const = default;

    static const LogLevel ok, warning, serious, toolError, abandoned, info, recording, stopped,
        timer, fast, cloud, audio, soundAlike, command, banner, testSignal, question, nothing,
        producer, privacy;
};

inline constexpr LogLevel LogLevel::ok{Severity::ok, LogTopic::none};
inline constexpr LogLevel LogLevel::warning{Severity::warning, LogTopic::none};
inline constexpr LogLevel LogLevel::serious{Severity::serious, LogTopic::none};
inline constexpr LogLevel LogLevel::toolError{Severity::serious, LogTopic::tool};
inline constexpr LogLevel LogLevel::abandoned{Severity::abandoned, LogTopic::none};
inline constexpr LogLevel LogLevel::info{Severity::info, LogTopic::none};
inline constexpr LogLevel LogLevel::recording{Severity::info, LogTopic::recording};
inline constexpr LogLevel LogLevel::stopped{Severity::info, LogTopic::stopped};
inline constexpr LogLevel LogLevel::timer{Severity::info, LogTopic::timer};
inline constexpr LogLevel LogLevel::fast{Severity::info, LogTopic::fast};
inline constexpr LogLevel LogLevel::cloud{Severity::info, LogTopic::cloud};
inline constexpr LogLevel LogLevel::audio{Severity::info, LogTopic::audio};
inline constexpr LogLevel LogLevel::soundAlike{Severity::info, LogTopic::soundAlike};
inline constexpr LogLevel LogLevel::command{Severity::info, LogTopic::command};
inline constexpr LogLevel LogLevel::banner{Severity::info, LogTopic::banner};
inline constexpr LogLevel LogLevel::testSignal{Severity::info, LogTopic::testSignal};
inline constexpr LogLevel LogLevel::question{Severity::info, LogTopic::question};
inline constexpr LogLevel LogLevel::nothing{Severity::info, LogTopic::nothing};
inline constexpr LogLevel LogLevel::producer{Severity::info, LogTopic::producer};
inline constexpr LogLevel LogLevel::privacy{Severity::info, LogTopic::privacy};

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
