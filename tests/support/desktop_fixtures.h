#pragma once

#include "base/subprocess.h"
#include "platform/linux/xcb_connection.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vak::test {

// The test's own hands on the display named by $DISPLAY: keys, buttons and properties, as
// another client would set them.
class Hands {
  public:
    Hands();
    bool ready() const { return x_ && map_; }
    XcbConnection& x() { return *x_; }
    void key(std::uint32_t sym, bool press);
    void tap(std::uint32_t sym) {
        key(sym, true);
        key(sym, false);
    }
    void button(std::uint8_t number);
    // Moves the pointer to (x, y) on the root window and clicks the first button there.
    void click(int x, int y);
    void setProperty(std::uint32_t window, const char* name, std::uint32_t type,
                     std::uint8_t format, const void* data, std::uint32_t count);

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

// The clipboard, and the PRIMARY selection, as another program sees them: format → bytes.
std::map<std::string, std::string> clipboardFormats();
std::map<std::string, std::string> primaryFormats();

} // namespace vak::test
