#include "support/headless_kwin.h"

#include "base/files.h"
#include "support/wait.h"

#include <filesystem>
#include <optional>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

namespace {

constexpr double kStartSeconds = 60;

// The package's desktop entry with Exec naming `binary`.
std::optional<std::string> desktopEntryFor(const std::string& binary) {
    std::istringstream lines(readTextFile(VAK_DESKTOP_ENTRY).value_or(""));
    std::string entry;
    bool exec = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Exec=", 0) == 0) {
            line = "Exec=" + binary;
            exec = true;
        }
        entry += line + "\n";
    }
    return exec ? std::optional(entry) : std::nullopt;
}

} // namespace

HeadlessKwin::HeadlessKwin() {
    const std::string kwin = systemProgram("kwin_wayland");
    const std::string session = systemProgram("dbus-run-session");
    if (kwin.empty() || session.empty()) {
        why_ = kwin.empty() ? "kwin_wayland is not installed (Debian package kwin-wayland)"
                            : "dbus-run-session is not installed (Debian package dbus-daemon)";
        return;
    }
    const auto user = SessionUser::forTests(&why_);
    if (!user) return;
    user_ = *user;
    if (user_.dropPrivileges && !pathExists("/tmp/.X11-unix"))
        makeOwnedFolder("/tmp/.X11-unix", 0, 0, 01777);
    char pattern[] = "/tmp/vak-kwin-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        why_ = "no temporary folder";
        return;
    }
    state_ = pattern;
    runtime_ = state_ + "/runtime";
    const std::string home = state_ + "/home";
    const std::string applications = home + "/.local/share/applications";
    std::error_code error;
    const std::string daemon = std::filesystem::canonical(VAK_BINARY, error).string();
    const auto entry = desktopEntryFor(daemon);
    if (!makeOwnedFolder(runtime_, user_.uid, user_.gid, 0700) ||
        !makeOwnedFolder(applications, user_.uid, user_.gid, 0755) || !entry ||
        !writeFileAtomic(applications + "/vak-dictate.desktop", *entry, 0644)) {
        why_ = "cannot prepare " + state_;
        return;
    }
    giveToUser(home);
    // A copy of the compositor without its file capability (a copy carries none), and the
    // daemon under a second name: a hard link where it can be, else a copy.
    const std::string copy = state_ + "/kwin_wayland";
    unlisted_ = state_ + "/unlisted-vak-dictate";
    std::filesystem::copy_file(kwin, copy, error);
    std::filesystem::create_hard_link(daemon, unlisted_, error);
    if (error) std::filesystem::copy_file(daemon, unlisted_, error);
    if (error || ::chmod(copy.c_str(), 0755) != 0) {
        why_ = "cannot copy kwin_wayland or the daemon into " + state_;
        return;
    }
    // As a Plasma session says which desktop it is: the portal the session's bus starts picks
    // its KDE back end by it.
    environment_ = {"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime_, "SHELL=/bin/sh",
                    "XDG_CURRENT_DESKTOP=KDE"};

    SpawnOptions options;
    options.argv = user_.run({session, "--", copy, "--virtual", "--xwayland", "--width", "1280",
                              "--height", "720", "--no-lockscreen"},
                             environment_);
    kwin_ = Subprocess::spawn(options, &why_);
    if (!kwin_) return;
    const std::string marker = "XDG_RUNTIME_DIR=" + runtime_;
    std::optional<pid_t> kwinPid;
    std::optional<pid_t> xwayland;
    const bool up = waitUntil(
        [&] {
            if (kwin_->hasExited()) return true;
            if (!kwinPid) kwinPid = findSessionProcess(marker, copy);
            if (!xwayland) xwayland = findSessionProcess(marker, "/usr/bin/Xwayland");
            return kwinPid && xwayland && pathExists(runtime_ + "/wayland-0");
        },
        kStartSeconds);
    if (!up || kwin_->hasExited()) {
        why_ = "kwin_wayland did not come up";
        return;
    }
    const std::string busAddress = processEnvironmentValue(*kwinPid, "DBUS_SESSION_BUS_ADDRESS");
    const std::string xCommand = commandLineOf(*xwayland);
    const std::size_t first = xCommand.find('\0') + 1;
    const std::string display = xCommand.substr(first, xCommand.find('\0', first) - first);
    if (busAddress.empty() || display.rfind(':', 0) != 0) {
        why_ = "KWin's session bus or XWayland display not found";
        return;
    }
    environment_.push_back("WAYLAND_DISPLAY=wayland-0");
    environment_.push_back("DISPLAY=" + display);
    environment_.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress);
    // KWin is on the bus a little after its display is up.
    const bool onBus = waitUntil(
        [&] {
            RunOptions run;
            run.timeoutSeconds = 5;
            const auto result =
                runProcess(asUser({systemProgram("gdbus"), "introspect", "--session", "--dest",
                                   "org.kde.KWin", "--object-path", "/Scripting"}),
                           run);
            return result && result->status.success();
        },
        kStartSeconds);
    if (!onBus) {
        why_ = "KWin did not come onto its session bus";
        return;
    }
    // What Plasma's start tells the bus, so that the services it starts (the desktop's portal
    // and its KDE back end) find the display and know the desktop.
    RunOptions run;
    run.timeoutSeconds = 5;
    runProcess(asUser({systemProgram("gdbus"), "call", "--session", "--dest",
                       "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus", "--method",
                       "org.freedesktop.DBus.UpdateActivationEnvironment",
                       "{'WAYLAND_DISPLAY': 'wayland-0', 'DISPLAY': '" + display +
                           "', 'XDG_CURRENT_DESKTOP': 'KDE'}"}),
               run);
    running_ = true;
}

HeadlessKwin::~HeadlessKwin() {
    if (kwin_ && !kwin_->hasExited()) {
        kwin_->terminate();
        auto watchdog = armWatchdog(kwin_, 5);
        kwin_->wait();
        watchdog.cancel();
    }
    if (!runtime_.empty()) stopProcessesWith("XDG_RUNTIME_DIR=" + runtime_);
    if (!state_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(state_, ignored);
    }
}

std::vector<std::string> HeadlessKwin::asUser(const std::vector<std::string>& command,
                                              const std::vector<std::string>& extra) const {
    return user_.run(command, environment_, extra);
}

std::vector<std::string>
HeadlessKwin::asUserWithoutBus(const std::vector<std::string>& command,
                               const std::vector<std::string>& extra) const {
    return user_.runWithoutBus(command, environment_, extra);
}

void HeadlessKwin::giveToUser(const std::string& path) const {
    user_.own(path);
}

std::string HeadlessKwin::userFolder(const std::string& name) const {
    const std::string path = state_ + "/" + name;
    return makeOwnedFolder(path, user_.uid, user_.gid, 0755) ? path : std::string();
}

} // namespace vak::test
