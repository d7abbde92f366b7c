#pragma once

#include "base/subprocess.h"
#include "platform/linux/xcb_connection.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vak::test {

// Real desktop programs on the display named by $DISPLAY, each with private settings (nothing
// of the person running the tests): a window manager, applications found by their windows, the
// clipboard manager CopyQ. A program that is not installed makes its fixture say so in why();
// ./scripts/test installs them all.

// openbox with its stock settings, as the desktop's window manager.
class WindowManager {
  public:
    WindowManager();
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    bool running() const { return running_; }
    const std::string& why() const { return why_; }

  private:
    TempDir config_;
    std::shared_ptr<Subprocess> process_;
    bool running_ = false;
    std::string why_;
};

// The window the window manager names active (_NET_ACTIVE_WINDOW), when it names one.
std::optional<std::uint32_t> activeWindow(XcbConnection& x);
// The keycodes of modifier keys held down now (none once every synthetic shortcut is over).
std::vector<std::uint8_t> heldModifiers(XcbConnection& x);
// The windows right below the root, bottom of the stack first.
std::vector<std::uint32_t> topLevelStack(XcbConnection& x);
// The window right below the root that holds `window`.
std::uint32_t topLevelOf(XcbConnection& x, std::uint32_t window);
// Mapped, with its ancestors: on screen unless covered.
bool isViewable(XcbConnection& x, std::uint32_t window);
// The window's title (_NET_WM_NAME); empty when it has none.
std::string windowTitle(XcbConnection& x, std::uint32_t window);
// Asks the window manager to minimise `window` (as its title bar button would).
void minimise(XcbConnection& x, std::uint32_t window);

// A real application, ready once the window manager has mapped a window of its class
// (WM_CLASS, compared lower-cased) and made it the active one. Terminated at the end.
class RealApp {
  public:
    RealApp(std::vector<std::string> argv, std::string wmClass,
            std::vector<std::string> environment = {});
    ~RealApp();
    RealApp(const RealApp&) = delete;
    RealApp& operator=(const RealApp&) = delete;

    bool ready() const { return window_ != 0; }
    const std::string& why() const { return why_; }
    std::uint32_t window() const { return window_; }

  private:
    std::shared_ptr<Subprocess> process_;
    std::uint32_t window_ = 0;
    std::string why_;
};

// A real terminal emulator running vak-tty-record: every byte the program in it receives.
// `command` starts the terminal up to the program to run ("xterm", "-e").
class RealTerminal {
  public:
    RealTerminal(std::vector<std::string> command, std::string wmClass);
    bool ready() const { return ready_; }
    const std::string& why() const { return why_; }
    std::uint32_t window() const { return app_ ? app_->window() : 0; }
    std::string received() const { return readFixture(dir_.file("tty")); }

  private:
    TempDir dir_;
    std::unique_ptr<RealApp> app_;
    bool ready_ = false;
    std::string why_;
};

// CopyQ watching the clipboard, in a session and settings of its own; its history is empty once
// it runs.
class ClipboardManager {
  public:
    ClipboardManager();
    ~ClipboardManager();
    ClipboardManager(const ClipboardManager&) = delete;
    ClipboardManager& operator=(const ClipboardManager&) = delete;

    bool running() const { return running_; }
    const std::string& why() const { return why_; }
    // The texts it keeps, newest first.
    std::vector<std::string> history() const;

  private:
    // Runs `copyq -s SESSION args…` and returns its output; nothing when it failed.
    std::optional<std::string> ask(const std::vector<std::string>& args) const;

    TempDir dir_;
    std::string session_;
    std::shared_ptr<Subprocess> server_;
    bool running_ = false;
    std::string why_;
};

// Another program's copy: owns the clipboard (and PRIMARY, when given) without a window.
class UserCopy {
  public:
    // Options of vak-paste-target: --clipboard TYPE VALUE… --primary TEXT.
    explicit UserCopy(std::vector<std::string> options);
    ~UserCopy();
    UserCopy(const UserCopy&) = delete;
    UserCopy& operator=(const UserCopy&) = delete;
    bool ready() const { return ready_; }

  private:
    TempDir dir_;
    std::shared_ptr<Subprocess> process_;
    bool ready_ = false;
};

} // namespace vak::test
