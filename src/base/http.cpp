#include "base/http.h"

#include <algorithm>
#include <cmath>

namespace vak {

std::string curlMaxTime(double seconds) {
    const double whole = std::isnan(seconds) ? 1.0 : std::trunc(seconds);
    return std::to_string(static_cast<long long>(std::clamp(whole, 1.0, 1e9)));
}

std::optional<ProcessResult> runCurlProcess(const std::vector<std::string>& argv,
                                            const CurlOptions& options) {
    RunOptions run;
    // curl keeps its own time limit; the watchdog only catches a curl that does not.
    run.timeoutSeconds = std::stod(curlMaxTime(options.maxTimeSeconds)) + options.backstopSeconds;
    run.killGraceSeconds = options.killGraceSeconds;
    run.input = options.stdinConfig;
    run.cancel = options.cancel;
    return runProcess(argv, run);
}

std::optional<std::string> runCurl(const std::vector<std::string>& argv,
                                   const CurlOptions& options) {
    auto result = runCurlProcess(argv, options);
    if (!result || !result->status.success()) return std::nullopt;
    return std::move(result->output);
}

std::optional<std::string> curlConfigHeaderLine(std::string_view header) {
    std::string line = "header = \"";
    for (const char c : header) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return std::nullopt;
        if (c == '"' || c == '\\') line += '\\';
        line += c;
    }
    line += "\"\n";
    return line;
}

} // namespace vak
