#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// What the speech tools say about themselves: their --help (which options this build of the tool
// has) and their standard error (why a run failed). whisper.cpp's tools exit 0 after most
// mistakes, an unknown option or language among them, so what they print is what tells.

// Bytes of a tool's standard error kept per run: enough for its error lines and the usage text
// whisper.cpp prints after them.
inline constexpr std::size_t kToolErrorTailBytes = 16 * 1024;

// The options a tool's --help lists ("-mc", "--max-context", …).
using ToolOptions = std::set<std::string, std::less<>>;

// Reads the options from a --help text: each line's words before its "[default]" column that
// start with "-". Nothing when the text lists no model option, which every real help does (a
// tool that printed something else is not to be judged by it).
std::shared_ptr<const ToolOptions> parseToolHelp(std::string_view help);

// The options of the tool at `path`, read from its --help once per process and path (the
// answer is kept, later calls are free); nothing when the help cannot be read, and then the
// caller assumes every option is there.
std::shared_ptr<const ToolOptions> toolOptions(const std::string& path);

// An argument list made of option groups: an option and the values that follow it.
struct OptionGroup {
    std::string option;
    std::vector<std::string> values;
};

// Flattens `groups` after argv0, leaving out the groups whose option `options` lacks; those are
// named in `missing`. With no options known, every group stays.
std::vector<std::string> argumentsFor(const std::string& argv0,
                                      const std::vector<OptionGroup>& groups,
                                      const ToolOptions* options,
                                      std::vector<std::string>* missing = nullptr);

// One log line, once per process and tool, naming the options a tool lacks and the release that
// has them.
void reportMissingOptions(const std::string& tool, const std::vector<std::string>& missing);

// Why a run failed, from its standard error: the lines before any usage text that speak of an
// error, a failure or something invalid or unknown (the last three, each once), else the last
// line; "no message" when it printed nothing.
std::string failureCause(std::string_view errorTail);

} // namespace vak
