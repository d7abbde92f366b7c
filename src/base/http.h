#pragma once

#include "base/subprocess.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// HTTP requests go through /usr/bin/curl child processes: an argument list, curl's own time
// limit and a backstop watchdog for a curl that overruns it.

// curl's "--max-time" value: whole seconds, truncated, and at least 1 (0 would mean no limit).
std::string curlMaxTime(double seconds);

struct CurlOptions {
    // curl's own limit, as handed to it with "--max-time"; the watchdog is armed from it.
    double maxTimeSeconds = 30;
    // How long after its own limit a curl that is still running gets stopped, and the grace
    // between the polite stop and the forced one.
    double backstopSeconds = 3;
    double killGraceSeconds = 2;
    // A curl configuration written to its standard input, for what must not show in a process
    // list (keys): the argument list then has to hold "--config" "-".
    std::optional<std::string> stdinConfig;
    // Set from another thread: curl is ended at once and its connection closed (whisper-server
    // looks for that to give up the request, though not always before it would have finished).
    const std::atomic<bool>* cancel = nullptr;
};

// Runs curl (argv[0] is its path). The response body when curl exits with status 0, else
// nothing (not started, failed, timed out).
std::optional<std::string> runCurl(const std::vector<std::string>& argv,
                                   const CurlOptions& options);
// The same run with what became of curl: its exit status (non-zero when the server could not be
// reached or did not answer in time) and whether the backstop had to stop it. Nothing when curl
// could not be started.
std::optional<ProcessResult> runCurlProcess(const std::vector<std::string>& argv,
                                            const CurlOptions& options);

// One line of a curl configuration that adds `header` to the request, quoted so that curl reads
// back exactly those bytes. Nothing for a header holding a line break or another control
// character: it would end the line early and smuggle in options or headers.
std::optional<std::string> curlConfigHeaderLine(std::string_view header);

} // namespace vak
