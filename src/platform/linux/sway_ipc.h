#pragma once

#include "platform/frontmost_app.h"
#include "platform/panel_placement.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// sway's control socket ($SWAYSOCK), speaking the i3 IPC: "i3-ipc", the payload's length and
// the message type (32-bit, native order), then the JSON payload; the reply has the same form.
// One connection, opened on first use and again after a failure. Any thread.
class SwayIpc {
  public:
    static constexpr std::uint32_t RUN_COMMAND = 0;
    static constexpr std::uint32_t GET_OUTPUTS = 3;
    static constexpr std::uint32_t GET_TREE = 4;
    static constexpr std::uint32_t GET_SEATS = 101;

    explicit SwayIpc(std::string socketPath);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    // The reply's payload; nothing when sway does not answer within `timeoutSeconds`.
    std::optional<std::string> request(std::uint32_t type, std::string_view payload,
                                       double timeoutSeconds = 1.0);
    // Runs sway commands; true when sway ran every one of them.
    bool command(std::string_view commands);

  private:
    std::mutex mutex_;
    std::string path_;
    int fd_ = -1;
};

// The application of the focused window in a GET_TREE reply: a native window's app_id, an
// XWayland window's class, lower-cased; empty when no window has the focus (an empty
// workspace) or the reply is not a tree.
std::string focusedApplication(std::string_view treeJson);
// The same, and whether any window has the focus: not when sway's focus is on a workspace (an
// empty one, or every window closed); a reply that is no tree tells nothing, so then yes.
FocusedApp focusedWindow(std::string_view treeJson);

// The active application on sway, asked of its tree at each call (a fraction of a millisecond).
class SwayFrontmostApp final : public FrontmostApp {
  public:
    explicit SwayFrontmostApp(std::shared_ptr<SwayIpc> ipc) : ipc_(std::move(ipc)) {}
    FocusedApp focused() override;

  private:
    std::shared_ptr<SwayIpc> ipc_;
};

// The program's floating panels on sway: rules that make the windows of this process with a
// panel's title float, stick to every workspace and never take the focus (sway otherwise tiles
// and focuses every new window), and moves to where the program wants them (sway centres a new
// floating window whatever position it asks for). The rules last until sway reloads its
// configuration.
class SwayPanelPlacement final : public PanelPlacement {
  public:
    explicit SwayPanelPlacement(std::shared_ptr<SwayIpc> ipc);

    void prepare(std::string_view title) override;
    bool place(std::string_view title, int x, int y) override;
    void leaveFocusAlone(std::string_view title) override;
    bool windowManagerKeepsPanels() const override { return true; }

  private:
    std::string criteria(std::string_view title) const;

    std::shared_ptr<SwayIpc> ipc_;
    std::vector<std::string> prepared_;
    std::vector<std::string> unfocused_;
};

} // namespace vak
