#pragma once

#include "base/log.h"
#include "foundation/process_values.h"
#include "support/temp_dir.h"

#include <optional>
#include <string>
#include <vector>

namespace vak::test {

// Points log() at a private file for its lifetime and gives back the messages written to it,
// without their time stamps.
class LogCapture {
  public:
    LogCapture() { setLogPath(path_); }
    ~LogCapture() { setLogPath(processValues().LOG); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& path() const { return path_; }
    // Everything logged since the capture began, time stamps included.
    std::string text() const { return readFixture(path_); }

    std::vector<std::string> messages() const {
        std::vector<std::string> result;
        const std::string text = readFixture(path_);
        std::size_t start = 0;
        while (start < text.size()) {
            auto end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            const auto stamp = line.find("] ");
            result.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
            start = end + 1;
        }
        return result;
    }

    // Whether a line of `level` holding `words` was logged.
    bool has(LogLevel level, std::string_view words) const {
        const std::string prefix = std::string(logGlyph(level)) + " ";
        for (const auto& message : messages()) {
            if (message.rfind(prefix, 0) == 0 &&
                message.find(words, prefix.size()) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

  private:
    TempDir dir_;
    std::string path_ = dir_.file("vak.log");
};

} // namespace vak::test
