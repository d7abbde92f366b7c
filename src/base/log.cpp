#include "base/log.h"

#include "base/files.h"

#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace vak {

namespace {

struct LogState {
    std::mutex mutex;
    std::string path;
};

struct LevelGlyph {
    LogLevel level;
    std::string_view glyph;
};

constexpr LevelGlyph kGlyphs[] = {
    {LogLevel::ok, "✓"},           {LogLevel::warning, "⚠️"},
    {LogLevel::serious, "‼️"}, {LogLevel::toolError, "!!"},
    {LogLevel::abandoned, "✕"},    {LogLevel::info, "·"},
    {LogLevel::recording, "●"},    {LogLevel::stopped, "■"},
    {LogLevel::timer, "⏱"},        {LogLevel::fast, "⚡"},
    {LogLevel::cloud, "☁"},        {LogLevel::audio, "♪"},
    {LogLevel::soundAlike, "≈"},   {LogLevel::command, "🎯"},
    {LogLevel::banner, "▶"},       {LogLevel::testSignal, "⌨︎"},
    {LogLevel::question, "?"},     {LogLevel::nothing, "…"},
    {LogLevel::producer, "🎛"},  {LogLevel::privacy, "🔒"},
};

LogState& logState() {
    // Never destroyed: threads may log while the process exits.
    static auto* state = new LogState();
    return *state;
}

} // namespace

std::string formatLogLine(std::time_t when, std::string_view message) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%m-%d %H:%M:%S", &local);
    std::string line;
    line.reserve(message.size() + 20);
    line += '[';
    line.append(stamp, n);
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

void setLogPath(const std::string& path) {
    auto& state = logState();
    std::lock_guard lock(state.mutex);
    state.path = path;
}

bool editLogFile(
    const std::string& path,
    const std::function<std::optional<std::string>(const std::optional<std::string>&)>& edit) {
    auto& state = logState();
    std::lock_guard lock(state.mutex);
    const auto replacement = edit(readFileBytes(path));
    return replacement && writeFileAtomic(path, *replacement, 0600);
}

std::string_view logGlyph(LogLevel level) {
    for (const auto& row : kGlyphs) {
        if (row.level == level) return row.glyph;
    }
    return "·";
}

void log(LogLevel level, std::string_view words) {
    std::string message(logGlyph(level));
    message += ' ';
    message += words;
    const std::string line = formatLogLine(std::time(nullptr), message);
    auto& state = logState();
    // One lock around both writes keeps lines whole in the file and on stderr alike.
    std::lock_guard lock(state.mutex);
    if (!state.path.empty()) {
        UniqueFd fd(::open(state.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (fd.valid()) writeAll(fd.get(), line);
    }
    writeAll(STDERR_FILENO, line);
}

} // namespace vak
