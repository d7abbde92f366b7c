#pragma once

#include "base/log.h"
#include "foundation/process_values.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace vak::test {

// Points log() at a private file for its lifetime and gives back the messages written to it,
// without their time stamps.
class LogCapture {
  public:
    LogCapture() { setLogPath(path_); }
    ~LogCapture() { setLogPath(processValues().LOG); }

    const std::string& path() const { return path_; }
    // Everything logged since the capture began, time stamps included.
    std::string text() const { return readFixture(path_); }

    std::vector<std::string> messages() const {
        std::vector<std::string> result;
        std::istringstream lines(readFixture(path_));
        for (std::string line; std::getline(lines, line);) {
            const auto stamp = line.find("] ");
            result.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
        }
        return result;
    }

    // Whether a line of `level` holding `words` was logged.
    bool has(LogLevel level, std::string_view words) const {
        const std::string prefix = std::string(logGlyph(level)) + " ";
        const auto all = messages();
        return std::any_of(all.begin(), all.end(), [&](const std::string& message) {
            return message.starts_with(prefix) &&
                   message.find(words, prefix.size()) != std::string::npos;
        });
    }

  private:
    TempDir dir_;
    std::string path_ = dir_.file("vak.log");
};

} // namespace vak::test
