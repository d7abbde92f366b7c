#pragma once

#include "base/subprocess.h"
#include "platform/linux/xcb_connection.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vak::test {

// Polls `done` every 10 ms until it holds or `seconds` pass; true when it held.
template <typename Done>
bool waitUntil(Done done, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The test's own hands on the display named by $DISPLAY: keys and buttons through XTest.
class Hands {
  public:
    Hands();
    bool ready() const { return x_ && map_; }
    void key(std::uint32_t sym, bool press);
    void tap(std::uint32_t sym) {
        key(sym, true);
        key(sym, false);
    }
    void button(std::uint8_t number);

  private:
    std::unique_ptr<XcbConnection> x_;
    std::optional<KeyboardMap> map_;
};

// A running paste-target window (tools/paste_target.cpp) that records everything it receives.
class PasteTarget {
  public:
    explicit PasteTarget(std::vector<std::string> extra = {});
    ~PasteTarget();
    PasteTarget(const PasteTarget&) = delete;
    PasteTarget& operator=(const PasteTarget&) = delete;

    bool ready() const { return ready_; }
    std::uint32_t window() const { return window_; }
    std::string received() const { return readFixture(dir_.file("record")); }

  private:
    TempDir dir_;
    std::shared_ptr<Subprocess> process_;
    bool ready_ = false;
    std::uint32_t window_ = 0;
};

// The clipboard as another program sees it: format → bytes. `waitWhile` runs while the dump
// is taken (a test that owns the clipboard must keep answering).
std::map<std::string, std::string> clipboardFormats(const std::function<void()>& waitWhile = {});

} // namespace vak::test
