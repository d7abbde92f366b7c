#include "base/log.h"

#include "base/files.h"

#include <iterator>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

struct LogState {
    std::mutex mutex;
    std::string path;
    bool refusalReported = false; // once per process: the path holds something else
};

// Indexed by the enumerations, in their order (base/log.h).
constexpr std::string_view kSeverityGlyphs[] = {"✓", "·", "⚠️", "‼️", "✕"};
constexpr std::string_view kTopicGlyphs[] = {"",  "!!", "●", "■",      "⏱", "⚡", "☁",    "♪",
                                             "≈", "🎯",  "▶", "⌨︎", "?", "…", "🎛", "🔒"};
static_assert(std::size(kSeverityGlyphs) == static_cast<std::size_t>(Severity::abandoned) + 1);
static_assert(std::size(kTopicGlyphs) == static_cast<std::size_t>(LogTopic::privacy) + 1);

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
    state.refusalReported = false;
}

bool editLogFile(
    const std::string& path,
    const std::function<std::optional<std::string>(const std::optional<std::string>&)>& edit) {
    auto& state = logState();
    std::lock_guard lock(state.mutex);
    // Never through a link: the log is not a way to read, or write, another file.
    const auto replacement = edit(readFileBytes(path, nullptr, Links::refuse));
    return replacement && writeFileAtomic(path, *replacement, 0600);
}

std::string_view logGlyph(LogLevel level) {
    const std::string_view topic = kTopicGlyphs[static_cast<std::size_t>(level.topic)];
    return topic.empty() ? kSeverityGlyphs[static_cast<std::size_t>(level.severity)] : topic;
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
        // Never through a link (it would send every line to its target), and never blocking on
        // a FIFO or writing into anything but a regular file.
        UniqueFd fd(::open(state.path.c_str(),
                           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                           0600));
        struct stat st {};
        if (fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
            writeAll(fd.get(), line);
        } else if (!state.refusalReported && pathExists(state.path)) {
            state.refusalReported = true;
            writeAll(STDERR_FILENO,
                     formatLogLine(std::time(nullptr),
                                   std::string(logGlyph(LogLevel::warning)) + " " + state.path +
                                       " is " + describePath(state.path).value_or("in the way") +
                                       ", not a log file: lines go to standard "
                                       "error only"));
        }
    }
    writeAll(STDERR_FILENO, line);
}

} // namespace vak
