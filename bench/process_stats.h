#pragma once

// CPU time and resident memory of a process, read from /proc, for the benchmarks that watch a
// running program.
#include <fstream>
#include <sstream>
#include <string>

#include <sys/types.h>
#include <unistd.h>

namespace vak::bench {

// CPU seconds (user + system) of `pid`; 0 when it cannot be read.
inline double cpuSeconds(pid_t pid) {
    if (pid <= 0) return 0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Resident memory of `pid` in megabytes; 0 when it cannot be read.
inline double residentMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

} // namespace vak::bench
