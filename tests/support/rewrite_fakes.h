#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace vak::test {

// The fake claude tool (tools/fake_claude.cpp) linked at HOME/.local/bin/claude, with its
// control files beside it.
class FakeClaude {
  public:
    explicit FakeClaude(const std::string& home);

    // What it prints from now on (any bytes).
    void answer(const std::string& bytes) const;
    // Lines for fake-claude.conf, e.g. "mode=hang" or "exit=1".
    void setControl(const std::string& lines) const;
    // One object per call: {"args", "stdin", "valid"}.
    std::vector<nlohmann::json> calls() const;

  private:
    std::string dir_;
};

// Reads every process's command line, over and over, from construction until stop(): what a
// local user could see with `ps` while a request is in flight.
class CommandLineWatch {
  public:
    CommandLineWatch();
    ~CommandLineWatch();
    CommandLineWatch(const CommandLineWatch&) = delete;
    CommandLineWatch& operator=(const CommandLineWatch&) = delete;

    void stop();
    // The argument lists seen that contain `needle` in one of their arguments.
    std::vector<std::vector<std::string>> commandsContaining(std::string_view needle) const;

  private:
    void scan();

    std::atomic<bool> running_{true};
    mutable std::mutex mutex_;
    std::set<std::string> seen_; // raw /proc/PID/cmdline contents
    std::thread thread_;
};

// The "--max-time" argument of the one curl command seen for `url`; "" unless there was one.
std::string maxTimeFor(const CommandLineWatch& watch, std::string_view url);

} // namespace vak::test
