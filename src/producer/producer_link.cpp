#include "producer/producer_link.h"

#include "base/files.h"
#include "base/global_queues.h"
#include "base/subprocess.h"
#include "base/unicode.h"

#include <algorithm>
#include <chrono>

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::size_t kTailBytes = 8192;
constexpr std::size_t kPanelLines = 8;

} // namespace

double unixNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void producerInboxEvent(const std::string& inboxPath, std::string_view event, double nowSeconds) {
    const auto slash = inboxPath.rfind('/');
    if (slash != std::string::npos && !isRegularFile(inboxPath)) {
        // The producer owns its folder; without it there is nobody to tell.
        const std::string folder = inboxPath.substr(0, slash);
        if (::access(folder.c_str(), W_OK) != 0) return;
    }
    nlohmann::json record = {{"ts", nowSeconds}, {"event", std::string(event)}};
    // One write of the whole line, so a reader sees the line complete or not at all.
    appendToFile(inboxPath, record.dump() + "\n", 0600);
}

void runTool(std::string_view path, const std::vector<std::string>& arguments,
             double timeLimitSeconds) {
    SpawnOptions options;
    options.argv.emplace_back(path);
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    auto child = Subprocess::spawn(options);
    if (!child) return;
    auto watchdog = armWatchdog(child, timeLimitSeconds);
    // Not waited for by the caller, but reaped, so no zombie is left behind.
    globalQueue(QoS::Utility).async([child, watchdog] {
        child->wait();
        watchdog.cancel();
    });
}

bool producerToolsInstalled(std::string_view home) {
    return isExecutableFile(expandHome(PRODUCER_CTL_TOOL, home));
}

void producerWake(std::string_view home) {
    globalQueue(QoS::Utility).async([tool = expandHome(PRODUCER_WAKE_TOOL, home)] {
        runTool(tool, {});
    });
}

std::vector<ProducerEntry> producerTail(const std::string& path, bool isOutbox) {
    std::vector<ProducerEntry> entries;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return entries;
    const off_t size = ::lseek(fd.get(), 0, SEEK_END);
    if (size < 0) return entries;
    // One byte more than the window, to tell whether the window starts on a line of its own.
    const off_t window = static_cast<off_t>(kTailBytes);
    const off_t start = size > window ? size - window - 1 : 0;
    std::string bytes(static_cast<std::size_t>(size - start), '\0');
    const ssize_t got = ::pread(fd.get(), bytes.data(), bytes.size(), start);
    if (got < 0) return entries;
    bytes.resize(static_cast<std::size_t>(got));
    // A line cut by the window (perhaps inside a character) is dropped on its own, so it cannot
    // make the whole window undecodable.
    if (start > 0) {
        const auto newline = bytes.find('\n');
        bytes.erase(0, newline == std::string::npos ? bytes.size() : newline + 1);
    }
    if (!isValidUtf8(bytes)) return entries;

    std::string_view rest = bytes;
    while (!rest.empty()) {
        const auto newline = rest.find('\n');
        const auto line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        if (line.empty()) continue;
        const auto record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_object()) continue;
        ProducerEntry entry;
        if (auto ts = record.find("ts"); ts != record.end() && ts->is_number()) {
            entry.ts = ts->get<double>();
        }
        const auto text = [&](const char* key) -> std::string {
            auto it = record.find(key);
            return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
        };
        const auto hasString = [&](const char* key) {
            auto it = record.find(key);
            return it != record.end() && it->is_string();
        };
        if (isOutbox && !text("said").empty()) {
            entry.line = "Durad Ave: " + text("said");
        } else if (hasString("event")) {
            entry.line = "· " + text("event");
        } else if (!text("heard").empty()) {
            entry.line = "Me: " + text("heard");
        } else {
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string producerPanelText(const std::string& inboxPath, const std::string& outboxPath,
                              double sinceTs) {
    auto entries = producerTail(inboxPath, false);
    auto outbox = producerTail(outboxPath, true);
    entries.insert(entries.end(), outbox.begin(), outbox.end());
    std::erase_if(entries, [sinceTs](const ProducerEntry& e) { return e.ts < sinceTs; });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ProducerEntry& a, const ProducerEntry& b) { return a.ts < b.ts; });
    if (entries.size() > kPanelLines) entries.erase(entries.begin(), entries.end() - kPanelLines);
    if (entries.empty()) return "🎛 listening — talk to me";
    std::string text;
    for (const auto& entry : entries) {
        if (!text.empty()) text += '\n';
        text += entry.line;
    }
    return text;
}

} // namespace vak
