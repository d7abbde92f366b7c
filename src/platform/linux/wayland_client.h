#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct wl_display;
struct wl_interface;
struct wl_proxy;
struct wl_registry;
struct wl_seat;

namespace vak {

// The program's one connection to the Wayland compositor ($WAYLAND_DISPLAY), for what a client
// that never has the keyboard focus may still do there: the clipboard through data control and
// the active window through foreign toplevel management.
//
// Every Wayland call happens on the connection's own thread: other threads hand it tasks and
// wait for them with a time limit, so a compositor that stops answering costs a caller that
// limit, never a hang. The thread also serves the clipboard data we offer, writing to each
// reader without blocking the others. When the compositor goes away the connection stops and
// every later task fails.
class WaylandClient {
  public:
    // Connects and learns the compositor's globals; nothing (with `error` set) when no compositor
    // answers.
    static std::shared_ptr<WaylandClient> connect(std::string* error = nullptr);
    ~WaylandClient(); // stops the thread; proxies still held by tasks' owners are abandoned
    WaylandClient(const WaylandClient&) = delete;
    WaylandClient& operator=(const WaylandClient&) = delete;

    // The compositor's globals by interface name, with the version it offers.
    const std::map<std::string, std::uint32_t>& globals() const { return globalVersions_; }
    bool offers(const std::string& interface) const { return globalVersions_.count(interface); }
    bool healthy() const;

    // Runs `task` on the connection's thread and waits until it has run (and the requests it
    // made are sent); false when the connection is gone or the task did not run within
    // `timeoutSeconds` (it may still run later: it must not refer to the caller's stack then).
    bool run(std::function<void()> task, double timeoutSeconds);
    // Runs `task` there and waits until the compositor has also handled every request made so
    // far and sent the events they cause (a round trip).
    bool runAndSync(std::function<void()> task, double timeoutSeconds);

    // On the connection's thread only: binds the global `interface` at no more than `version`;
    // nothing when the compositor does not offer it.
    wl_proxy* bind(const wl_interface& interface, std::uint32_t version);
    // The seat (the first one the compositor announced); on the connection's thread only.
    wl_seat* seat() const { return seat_; }
    // Writes `bytes` to `fd` from the connection's thread as the reader takes them, then closes
    // it; a reader that has not taken everything within `timeoutSeconds` loses the rest. Any
    // thread.
    void serve(int fd, std::shared_ptr<const std::string> bytes, double timeoutSeconds = 10);

    struct Loop;
    // The globals as the compositor announces them while connecting; emptied once they are
    // known, so that globals coming and going later (an output, a second seat) are not followed.
    struct RegistryData;

  private:
    WaylandClient() = default;
    wl_proxy* bindByName(const wl_interface& interface, std::uint32_t name, std::uint32_t version);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::map<std::string, std::uint32_t> globalVersions_;
    std::map<std::string, std::uint32_t> globalNames_;
    std::unique_ptr<RegistryData> registryData_;
    std::unique_ptr<Loop> loop_;
};

} // namespace vak
