#include "transcribe/tool_report.h"

#include "base/log.h"
#include "base/subprocess.h"
#include "base/unicode.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace vak {

namespace {

// The release this program is built and tested against; it has every option it passes.
constexpr std::string_view kPinnedRelease = "whisper.cpp v1.9.3";

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        result.push_back(line);
        start = end + 1;
    }
    return result;
}

bool speaksOfFailure(std::string_view line) {
    const std::string lower = toLower(line);
    for (const char* word : {"error", "fail", "invalid", "unknown", "not found", "cannot"}) {
        if (lower.find(word) != std::string::npos) return true;
    }
    return false;
}

// "whisper_lang_id: unknown language 'xx'" and "error: unknown language 'xx'" say one thing.
std::string_view withoutSpeaker(std::string_view line) {
    const auto colon = line.find(": ");
    if (colon == std::string_view::npos || line.substr(0, colon).find(' ') != std::string::npos)
        return line;
    return line.substr(colon + 2);
}

} // namespace

std::shared_ptr<const ToolOptions> parseToolHelp(std::string_view help) {
    auto options = std::make_shared<ToolOptions>();
    for (std::string_view line : lines(help)) {
        line = line.substr(0, line.find('['));
        std::size_t at = 0;
        while (at < line.size()) {
            const auto begin = line.find_first_not_of(" \t,", at);
            if (begin == std::string_view::npos) break;
            auto end = line.find_first_of(" \t,", begin);
            if (end == std::string_view::npos) end = line.size();
            const std::string_view word = line.substr(begin, end - begin);
            if (word.size() > 1 && word[0] == '-' && word != "--") options->emplace(word);
            at = end;
        }
    }
    if (!options->contains("-m") && !options->contains("--model")) return nullptr;
    return options;
}

std::shared_ptr<const ToolOptions> toolOptions(const std::string& path) {
    static std::mutex mutex;
    static auto* known = new std::map<std::string, std::shared_ptr<const ToolOptions>>();
    std::lock_guard lock(mutex);
    if (const auto found = known->find(path); found != known->end()) return found->second;
    RunOptions run;
    run.timeoutSeconds = 10;
    run.maxOutputBytes = 64 * 1024;
    run.errorTailBytes = 64 * 1024;
    std::shared_ptr<const ToolOptions> options;
    // whisper.cpp prints its help on standard error; other builds may use standard output.
    if (const auto result = runProcess({path, "--help"}, run); result && result->status.exited())
        options = parseToolHelp(result->errorTail + "\n" + result->output);
    (*known)[path] = options;
    return options;
}

std::vector<std::string> argumentsFor(const std::string& argv0,
                                      const std::vector<OptionGroup>& groups,
                                      const ToolOptions* options,
                                      std::vector<std::string>* missing) {
    std::vector<std::string> args = {argv0};
    for (const auto& group : groups) {
        if (options != nullptr && !options->contains(group.option)) {
            if (missing != nullptr) missing->push_back(group.option);
            continue;
        }
        args.push_back(group.option);
        args.insert(args.end(), group.values.begin(), group.values.end());
    }
    return args;
}

void reportMissingOptions(const std::string& tool, const std::vector<std::string>& missing) {
    if (missing.empty()) return;
    static std::mutex mutex;
    static auto* reported = new std::set<std::string>();
    std::string names;
    for (const auto& option : missing)
        names += (names.empty() ? "" : ", ") + option;
    {
        std::lock_guard lock(mutex);
        if (!reported->insert(tool + "\n" + names).second) return;
    }
    log(LogLevel::warning, tool + " has no " + names + " — running it without " +
                               (missing.size() == 1 ? "that option" : "those options") + " (" +
                               std::string(kPinnedRelease) +
                               " has them: vak-dictate --setup-engine builds it)");
}

std::string failureCause(std::string_view errorTail) {
    std::vector<std::string> before;
    for (const auto line : lines(errorTail)) {
        std::string text = trim(line);
        if (text.starts_with("usage:")) break; // the option list follows
        if (!text.empty()) before.push_back(std::move(text));
    }
    if (before.empty()) return "no message";
    std::vector<std::string_view> picked;
    for (auto it = before.rbegin(); it != before.rend() && picked.size() < 3; ++it) {
        if (!speaksOfFailure(*it)) continue;
        const bool said = std::any_of(picked.begin(), picked.end(), [&](std::string_view p) {
            return withoutSpeaker(p) == withoutSpeaker(*it);
        });
        if (!said) picked.push_back(*it);
    }
    if (picked.empty()) return before.back();
    std::string cause;
    for (auto it = picked.rbegin(); it != picked.rend(); ++it)
        cause += (cause.empty() ? "" : " · ") + std::string(*it);
    return cause;
}

} // namespace vak
