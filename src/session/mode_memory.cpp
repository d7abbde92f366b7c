#include "session/mode_memory.h"

#include "base/files.h"

#include <algorithm>
#include <map>
#include <vector>

namespace vak {

namespace {

constexpr std::size_t kTrimAbove = 1000;
constexpr std::size_t kKeepAfterTrim = 500;
constexpr std::size_t kDecisionWindow = 200;
constexpr int kMinimumPicks = 3;
constexpr double kDominance = 0.6;

std::vector<std::string_view> nonEmptyLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const auto line = text.substr(0, newline);
        if (!line.empty()) lines.push_back(line);
        if (newline == std::string_view::npos) break;
        text.remove_prefix(newline + 1);
    }
    return lines;
}

} // namespace

void recordModePick(const std::string& path, std::string_view app, DeliverMode mode) {
    if (app.empty()) return;
    // A tab or line break inside the app would make the line unreadable or forge others.
    if (app.find_first_of("\t\r\n") != std::string_view::npos) return;
    std::string line(app);
    line += '\t';
    line += configValue(mode);
    line += '\n';
    if (!appendToFile(path, line, 0600)) return;

    const auto text = readUserText(path);
    if (!text) return;
    const auto lines = nonEmptyLines(*text);
    if (lines.size() <= kTrimAbove) return;
    std::string kept;
    for (std::size_t i = lines.size() - kKeepAfterTrim; i < lines.size(); ++i) {
        kept += lines[i];
        kept += '\n';
    }
    saveUserFile(path, kept);
}

std::optional<DeliverMode> learnedModeFor(const std::string& path, std::string_view app) {
    if (app.empty()) return std::nullopt;
    const auto text = readUserText(path);
    if (!text) return std::nullopt;
    const auto lines = nonEmptyLines(*text);
    const std::size_t first = lines.size() > kDecisionWindow ? lines.size() - kDecisionWindow : 0;

    std::map<std::string, int> counts;
    int total = 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        const auto line = lines[i];
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos || line.find('\t', tab + 1) != std::string_view::npos) {
            continue; // exactly two fields
        }
        if (line.substr(0, tab) != app) continue;
        ++counts[std::string(line.substr(tab + 1))];
        ++total;
    }
    if (total < kMinimumPicks) return std::nullopt;
    const auto best =
        std::max_element(counts.begin(), counts.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (best->second < kDominance * total) return std::nullopt;
    // A name that is no mode's (a hand-edited file) means nothing.
    return deliver_mode::fromConfigValue(best->first);
}

} // namespace vak
