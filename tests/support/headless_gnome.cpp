#include "support/headless_gnome.h"

#include "base/files.h"
#include "support/wait.h"

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

namespace {

// The shell takes a few seconds to start, more on a busy machine.
constexpr double kStartSeconds = 60;

// A system bus that lets everyone do everything: the shell asks it for a login manager and
// other system services, which are absent and answer as such.
std::string systemBusConfig(const std::string& socket) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>system</type>\n"
           "  <listen>unix:path=" +
           socket +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_type=\"method_call\"/>\n"
           "    <allow send_type=\"signal\"/>\n"
           "    <allow send_type=\"method_return\"/>\n"
           "    <allow send_type=\"error\"/>\n"
           "    <allow receive_type=\"method_call\"/>\n"
           "    <allow receive_type=\"signal\"/>\n"
           "    <allow receive_type=\"method_return\"/>\n"
           "    <allow receive_type=\"error\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

} // namespace

HeadlessGnome::HeadlessGnome() {
    const std::string shell = systemProgram("gnome-shell");
    const std::string daemon = systemProgram("dbus-daemon");
    const std::string session = systemProgram("dbus-run-session");
    if (shell.empty() || daemon.empty() || session.empty()) {
        why_ = shell.empty() ? "gnome-shell is not installed (Debian package gnome-shell)"
                             : "dbus-daemon is not installed (Debian package dbus-daemon)";
        return;
    }
    const auto user = SessionUser::forTests(&why_);
    if (!user) return;
    user_ = *user;
    // XWayland, as the test user, needs the shared socket folder.
    if (user_.dropPrivileges && !pathExists("/tmp/.X11-unix"))
        makeOwnedFolder("/tmp/.X11-unix", 0, 0, 01777);
    char pattern[] = "/tmp/vak-gnome-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        why_ = "no temporary folder";
        return;
    }
    state_ = pattern;
    runtime_ = state_ + "/runtime";
    const std::string systemSocket = runtime_ + "/system_bus";
    if (!makeOwnedFolder(runtime_, user_.uid, user_.gid, 0700) ||
        !makeOwnedFolder(state_ + "/home", user_.uid, user_.gid, 0700) ||
        !writeFileAtomic(state_ + "/system.conf", systemBusConfig(systemSocket), 0644)) {
        why_ = "cannot prepare " + state_;
        return;
    }
    environment_ = {"HOME=" + state_ + "/home", "XDG_RUNTIME_DIR=" + runtime_, "SHELL=/bin/sh"};

    SpawnOptions bus;
    bus.argv =
        user_.run({daemon, "--config-file=" + state_ + "/system.conf", "--nofork"}, environment_);
    systemBus_ = Subprocess::spawn(bus, &why_);
    if (!systemBus_ || !waitUntil([&] { return pathExists(systemSocket); })) {
        why_ = "the private system bus did not start";
        return;
    }

    SpawnOptions options;
    options.argv = user_.run(
        {session, "--", shell, "--headless", "--wayland", "--virtual-monitor", "1280x720"},
        environment_, {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + systemSocket});
    shell_ = Subprocess::spawn(options, &why_);
    if (!shell_) return;
    const std::string marker = "XDG_RUNTIME_DIR=" + runtime_;
    std::optional<pid_t> shellPid;
    std::optional<pid_t> xwayland;
    const bool up = waitUntil(
        [&] {
            if (shell_->hasExited()) return true;
            if (!shellPid) shellPid = findSessionProcess(marker, "gnome-shell");
            if (!xwayland) xwayland = findSessionProcess(marker, "/usr/bin/Xwayland");
            return shellPid && xwayland && pathExists(runtime_ + "/wayland-0");
        },
        kStartSeconds);
    if (!up || shell_->hasExited()) {
        why_ = "gnome-shell did not come up";
        return;
    }
    const std::string busAddress = processEnvironmentValue(*shellPid, "DBUS_SESSION_BUS_ADDRESS");
    const std::string xCommand = commandLineOf(*xwayland);
    const std::string display =
        xCommand.substr(xCommand.find('\0') + 1,
                        xCommand.find('\0', xCommand.find('\0') + 1) - xCommand.find('\0') - 1);
    if (busAddress.empty() || display.rfind(':', 0) != 0) {
        why_ = "gnome-shell's session bus or XWayland display not found";
        return;
    }
    environment_.push_back("WAYLAND_DISPLAY=wayland-0");
    environment_.push_back("DISPLAY=" + display);
    // XWayland lets in the holders of mutter's cookie, which a GNOME session hands its programs.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runtime_, error)) {
        if (entry.path().filename().string().rfind(".mutter-Xwaylandauth.", 0) == 0)
            environment_.push_back("XAUTHORITY=" + entry.path().string());
    }
    environment_.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress);

    // The keyboard, and out of the Overview, once mutter's remote desktop is on the bus (a
    // little after the display is up).
    const std::string ready = runtime_ + "/keys-ready";
    const bool keyboard = waitUntil(
        [&] {
            SpawnOptions keys;
            keys.argv = asUser({VAK_REMOTE_KEYS, ready});
            auto child = Subprocess::spawn(keys);
            if (!child) return false;
            started_.push_back(child);
            waitUntil([&] { return pathExists(ready) || child->hasExited(); }, 20);
            if (pathExists(ready)) return true;
            settle(1.0);
            return false;
        },
        kStartSeconds);
    if (!keyboard) {
        why_ = "mutter's remote desktop gave no keyboard";
        return;
    }
    running_ = true;
}

HeadlessGnome::~HeadlessGnome() {
    for (const auto& child : started_)
        child->terminate();
    for (const auto& child : started_)
        child->wait();
    if (shell_ && !shell_->hasExited()) {
        shell_->terminate();
        auto watchdog = armWatchdog(shell_, 5);
        shell_->wait();
        watchdog.cancel();
    }
    if (!runtime_.empty()) stopProcessesWith("XDG_RUNTIME_DIR=" + runtime_);
    if (systemBus_) {
        systemBus_->terminate();
        systemBus_->wait();
    }
    if (!state_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(state_, ignored);
    }
}

std::vector<std::string> HeadlessGnome::asUser(const std::vector<std::string>& command,
                                               const std::vector<std::string>& extra) const {
    return user_.run(command, environment_, extra);
}

std::vector<std::string>
HeadlessGnome::asUserWithoutBus(const std::vector<std::string>& command,
                                const std::vector<std::string>& extra) const {
    return user_.runWithoutBus(command, environment_, extra);
}

bool HeadlessGnome::start(const std::vector<std::string>& command,
                          const std::vector<std::string>& extra) {
    SpawnOptions options;
    options.argv = asUser(command, extra);
    auto child = Subprocess::spawn(options);
    if (child) started_.push_back(child);
    return child != nullptr;
}

void HeadlessGnome::giveToUser(const std::string& path) const {
    user_.own(path);
}

std::string HeadlessGnome::userFolder(const std::string& name) const {
    const std::string path = state_ + "/" + name;
    return makeOwnedFolder(path, user_.uid, user_.gid, 0755) ? path : std::string();
}

} // namespace vak::test
