#pragma once

#include <string>
#include <string_view>

namespace vak {

struct Config;

// Which desktop protocol serves the key monitor, the synthetic keys, the clipboard and the
// active window.
enum class DesktopBackend { X11, Wayland };

struct DesktopChoice {
    DesktopBackend backend = DesktopBackend::X11;
    std::string why; // what decided it, for the log ("WAYLAND_DISPLAY=wayland-0")
};

// What the session offers and what the user asked for; empty when unset.
struct DesktopSession {
    std::string forced;         // $VAK_DESKTOP_BACKEND
    std::string configured;     // DESKTOP_BACKEND of the configuration ("auto" by default)
    std::string waylandDisplay; // $WAYLAND_DISPLAY
    std::string sessionType;    // $XDG_SESSION_TYPE
    std::string display;        // $DISPLAY

    // The process's environment and `config`.
    static DesktopSession current(const Config& config);
};

// The environment variable first, then the configuration ("x11" or "wayland", any case; other
// values count as "auto"); on "auto" a Wayland session (WAYLAND_DISPLAY, else XDG_SESSION_TYPE)
// gets the Wayland backend and everything else X11.
DesktopChoice chooseDesktopBackend(const DesktopSession& session);

std::string_view desktopBackendName(DesktopBackend backend);

} // namespace vak
