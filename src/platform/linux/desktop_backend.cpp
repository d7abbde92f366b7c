#include "platform/linux/desktop_backend.h"

#include "base/environment.h"
#include "base/unicode.h"
#include "foundation/config.h"

#include <cstdlib>
#include <optional>

namespace vak {

namespace {

std::optional<DesktopBackend> named(std::string_view value) {
    const std::string lower = toLower(value);
    if (lower == "x11") return DesktopBackend::X11;
    if (lower == "wayland") return DesktopBackend::Wayland;
    return std::nullopt;
}

} // namespace

DesktopSession DesktopSession::current(const Config& config) {
    return DesktopSession{envValueOr(Env::DesktopBackend, ""), config.desktopBackend,
                          envValueOr(Env::WaylandDisplay, ""), envValueOr(Env::SessionType, ""),
                          envValueOr(Env::Display, "")};
}

DesktopChoice chooseDesktopBackend(const DesktopSession& session) {
    if (const auto backend = named(session.forced))
        return {*backend, "VAK_DESKTOP_BACKEND=" + session.forced};
    if (const auto backend = named(session.configured))
        return {*backend, "DESKTOP_BACKEND=" + session.configured};
    if (!session.waylandDisplay.empty())
        return {DesktopBackend::Wayland,
                "Wayland session (WAYLAND_DISPLAY=" + session.waylandDisplay + ")"};
    if (toLower(session.sessionType) == "wayland")
        return {DesktopBackend::Wayland, "Wayland session (XDG_SESSION_TYPE=wayland)"};
    if (!session.display.empty())
        return {DesktopBackend::X11, "X11 session (DISPLAY=" + session.display + ")"};
    return {DesktopBackend::X11, "no Wayland session found"};
}

std::string_view desktopBackendName(DesktopBackend backend) {
    return backend == DesktopBackend::Wayland ? "Wayland" : "X11";
}

} // namespace vak
