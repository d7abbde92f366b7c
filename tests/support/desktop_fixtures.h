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
    void click(int x, int y);
    void setProperty(std::uint32_t window, const char* name, std::uint32_t type,
                     std::uint8_t format, const void* data, std::uint32_t count);

  private:
    std::unique_ptr<XcbConnection> x_;
    std::optional<KeyboardMap> map_;
};

// A running paste-target window (tools/paste_target.cpp) that records everything it receives;
// with "--hidden", another program's copy without a window.
class PasteTarget {
  public:
    explicit PasteTarget(std::vector<std::string> extra = {});
    ~PasteTarget() { stopChild(process_); }

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
// What `vak-paste-target --dump-clipboard FILE` wrote: one "TYPE<TAB>HEX" line per format.
std::map<std::string, std::string> dumpedFormats(const std::string& dump);

// A real program on the display with a home and settings of its own, stopped at the end; why()
// says what kept it from running (./scripts/test installs them all).
class DesktopProgram {
  public:
    ~DesktopProgram() { stopChild(process_); }
    bool running() const { return why_.empty(); }
    const std::string& why() const { return why_; }

  protected:
    bool start(std::vector<std::string> argv);
    std::vector<std::string> settings() const; // its variables: home, settings folders

    TempDir dir_;
    std::shared_ptr<Subprocess> process_;
    std::string why_;
};

// openbox with its stock settings, as the desktop's window manager.
struct WindowManager : DesktopProgram {
    WindowManager();
};

// The window the window manager names active (_NET_ACTIVE_WINDOW), when it names one.
std::optional<std::uint32_t> activeWindow(XcbConnection& x);
// A modifier key held down now (none once every synthetic shortcut is over).
bool modifierHeld(XcbConnection& x);

// A real application, running once the window manager has mapped a new window of its class
// (WM_CLASS, compared lower-cased) and made it the active one.
class RealApp : public DesktopProgram {
  public:
    RealApp(std::vector<std::string> argv, const std::string& wmClass);
    std::uint32_t window() const { return window_; }

  private:
    std::uint32_t window_ = 0;
};

// CopyQ watching the clipboard, in a session of its own; its history holds a probe once it runs.
class ClipboardManager : public DesktopProgram {
  public:
    ClipboardManager();
    ~ClipboardManager();
    // The texts it keeps, newest first.
    std::vector<std::string> history() const;

  private:
    std::optional<std::string> ask(const std::vector<std::string>& args) const;

    std::string session_;
};

} // namespace vak::test
