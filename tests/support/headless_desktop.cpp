#include "support/headless_desktop.h"

#include "base/files.h"
#include "platform/linux/sway_ipc.h"
#include "support/wait.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

namespace {

constexpr const char* kTestUser = "vaktest";
// GNOME Shell and KWin take a few seconds to start, more on a busy machine.
constexpr double kStartSeconds = 60;

constexpr const char* kSwayConfig = "swaybg_command -\n"
                                    "swaynag_command -\n"
                                    "xwayland enable\n"
                                    "output HEADLESS-1 resolution 1280x720 position 0,0\n"
                                    "focus_follows_mouse no\n"
                                    "default_border none\n";

// A system bus that lets everyone do everything: the shell asks it for a login manager and
// other system services, which are absent and answer as such.
std::string systemBusConfig(const std::string& socket) {
    std::string allow = "<allow user=\"*\"/><allow own=\"*\"/>";
    for (const char* kind : {"send", "receive"}) {
        for (const char* type : {"method_call", "signal", "method_return", "error"})
            allow += std::string("<allow ") + kind + "_type=\"" + type + "\"/>";
    }
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>system</type><listen>unix:path=" +
           socket + "</listen><auth>EXTERNAL</auth><policy context=\"default\">" + allow +
           "</policy></busconfig>\n";
}

// Empty when the process is gone, even halfway through the read (where a stream would throw).
std::string readProcFile(pid_t pid, const char* name) {
    const UniqueFd fd(
        ::open(("/proc/" + std::to_string(pid) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    return fd.get() < 0 ? std::string() : readAll(fd.get()).value_or("");
}

std::vector<std::string> procEntries(pid_t pid, const char* name) {
    std::vector<std::string> entries;
    std::istringstream text(readProcFile(pid, name));
    for (std::string entry; std::getline(text, entry, '\0');)
        entries.push_back(entry);
    return entries;
}

std::vector<pid_t> processes() {
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = process.path().filename();
        if (name.find_first_not_of("0123456789") == std::string::npos)
            pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return pids;
}

std::string environmentValue(pid_t pid, const std::string& name) {
    for (const std::string& entry : procEntries(pid, "environ")) {
        if (entry.starts_with(name + "=")) return entry.substr(name.size() + 1);
    }
    return {};
}

// The process of the session with this runtime folder whose program is named so.
std::optional<pid_t> findSessionProcess(const std::string& runtime, const std::string& program) {
    for (const pid_t pid : processes()) {
        const auto command = procEntries(pid, "cmdline");
        if (!command.empty() &&
            std::filesystem::path(command[0]).filename() ==
                std::filesystem::path(program).filename() &&
            environmentValue(pid, "XDG_RUNTIME_DIR") == runtime)
            return pid;
    }
    return std::nullopt;
}

bool makeOwnedFolder(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && ::chmod(path.c_str(), mode) == 0 && ::chown(path.c_str(), uid, gid) == 0;
}

std::optional<std::string> desktopEntryFor(const std::string& binary) {
    std::istringstream lines(readTextFile(VAK_DESKTOP_ENTRY).value_or(""));
    std::string entry;
    bool exec = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Exec=")) line = "Exec=" + binary;
        exec = exec || line.starts_with("Exec=");
        entry += line + "\n";
    }
    return exec ? std::optional(entry) : std::nullopt;
}

} // namespace

std::string systemProgram(const char* name) {
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"}) {
        if (isExecutableFile(dir + std::string(name))) return dir + std::string(name);
    }
    return {};
}

void stopProcessesWith(const std::string& entry) {
    for (int round = 0; round < 2; ++round) {
        bool found = false;
        for (const pid_t pid : processes()) {
            if (readProcFile(pid, "environ").find(entry + '\0') == std::string::npos) continue;
            found = true;
            ::kill(pid, round == 0 ? SIGTERM : SIGKILL);
        }
        if (!found) return;
        settle(0.5);
    }
}

HeadlessDesktop::HeadlessDesktop(Compositor compositor) {
    const std::string name = compositor == Compositor::Sway    ? "sway"
                             : compositor == Compositor::Gnome ? "gnome-shell"
                                                               : "kwin_wayland";
    const std::string program = systemProgram(name.c_str());
    const std::string bus = compositor == Compositor::Sway ? "env" : "dbus-run-session";
    if (program.empty() || systemProgram(bus.c_str()).empty()) {
        why_ = name + " or " + bus + " is not installed";
        return;
    }
    uid_ = ::getuid();
    gid_ = ::getgid();
    dropPrivileges_ = ::geteuid() == 0;
    if (dropPrivileges_) {
        if (::getpwnam(kTestUser) == nullptr) {
            runProcess({systemProgram("useradd"), "--user-group", "--no-create-home", "--shell",
                        "/usr/sbin/nologin", kTestUser},
                       RunOptions{});
        }
        const passwd* user = ::getpwnam(kTestUser);
        if (user == nullptr) {
            why_ = "cannot create the test user " + std::string(kTestUser);
            return;
        }
        uid_ = user->pw_uid;
        gid_ = user->pw_gid;
        // XWayland, as the test user, needs the shared socket folder.
        if (!pathExists("/tmp/.X11-unix")) makeOwnedFolder("/tmp/.X11-unix", 0, 0, 01777);
    }
    char pattern[] = "/tmp/vak-desktop-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        why_ = "no temporary folder";
        return;
    }
    state_ = pattern;
    runtime_ = state_ + "/runtime";
    if (!makeOwnedFolder(runtime_, uid_, gid_, 0700) ||
        !makeOwnedFolder(state_ + "/home", uid_, gid_, 0700)) {
        why_ = "cannot prepare " + state_;
        return;
    }
    // Without a login shell, a terminal started without a command would close at once.
    environment_ = {"HOME=" + state_ + "/home", "XDG_RUNTIME_DIR=" + runtime_, "SHELL=/bin/sh"};
    why_ = compositor == Compositor::Sway    ? startSway(program)
           : compositor == Compositor::Gnome ? startGnome(program)
                                             : startKwin(program);
}

std::string HeadlessDesktop::startSway(const std::string& sway) {
    if (!writeFileAtomic(state_ + "/config", kSwayConfig, 0644)) return "cannot prepare " + state_;
    SpawnOptions options;
    options.argv =
        asUser({sway, "--config", state_ + "/config"},
               {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
    compositor_ = Subprocess::spawn(options);
    if (!compositor_) return "cannot start sway";
    const std::string socket = runtime_ + "/sway-ipc." + std::to_string(uid_) + "." +
                               std::to_string(compositor_->pid()) + ".sock";
    std::string waylandDisplay;
    const bool up = waitUntil(
        [&] {
            if (compositor_->hasExited()) return true;
            for (const char* name : {"wayland-1", "wayland-0", "wayland-2"}) {
                if (pathExists(runtime_ + "/" + name)) waylandDisplay = name;
            }
            if (waylandDisplay.empty() || !pathExists(socket)) return false;
            if (!ipc_) ipc_ = std::make_unique<SwayIpc>(socket);
            return ipc_->request(SwayIpc::GET_OUTPUTS, {}).has_value();
        },
        15);
    if (!up || compositor_->hasExited()) return "sway did not come up";
    environment_.push_back("WAYLAND_DISPLAY=" + waylandDisplay);
    environment_.push_back("SWAYSOCK=" + socket);
    // sway sets XWayland's DISPLAY in its own environment at start.
    const std::string displayFile = runtime_ + "/display";
    exec("printenv DISPLAY > " + displayFile);
    std::string display;
    waitUntil([&] {
        display = readTextFile(displayFile).value_or("");
        return display.find('\n') != std::string::npos;
    });
    if (!display.empty()) {
        environment_.push_back("DISPLAY=" + display.substr(0, display.find('\n')));
        // XWayland lets in its own user only; the tests, as root, read it too.
        const std::string xhost = systemProgram("xhost");
        if (dropPrivileges_ && !xhost.empty()) run({xhost, "+si:localuser:root"});
    }
    const std::string wtype = systemProgram("wtype");
    // An empty text typed after an hour's sleep: a keyboard for the session's whole life.
    if (!wtype.empty() && start({wtype, "-s", "3600000", "--", ""})) {
        waitUntil([&] {
            const auto seats = ipc_->request(SwayIpc::GET_SEATS, {});
            return seats && seats->find("\"capabilities\": 0") == std::string::npos &&
                   seats->find("\"capabilities\":0") == std::string::npos;
        });
    }
    for (const std::string& entry : environment_) {
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "HOME") continue;
        const char* before = std::getenv(name.c_str());
        savedEnvironment_.emplace_back(name, before != nullptr ? std::optional<std::string>(before)
                                                               : std::nullopt);
        ::setenv(name.c_str(), entry.substr(entry.find('=') + 1).c_str(), 1);
    }
    return {};
}

std::string HeadlessDesktop::startGnome(const std::string& shell) {
    const std::string daemon = systemProgram("dbus-daemon");
    const std::string systemSocket = runtime_ + "/system_bus";
    if (!writeFileAtomic(state_ + "/system.conf", systemBusConfig(systemSocket), 0644))
        return "cannot prepare " + state_;
    SpawnOptions bus;
    bus.argv = asUser({daemon, "--config-file=" + state_ + "/system.conf", "--nofork"});
    systemBus_ = Subprocess::spawn(bus);
    if (!systemBus_ || !waitUntil([&] { return pathExists(systemSocket); }))
        return "the private system bus did not start";
    SpawnOptions options;
    options.argv = asUser({systemProgram("dbus-run-session"), "--", shell, "--headless",
                           "--wayland", "--virtual-monitor", "1280x720"},
                          {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + systemSocket});
    compositor_ = Subprocess::spawn(options);
    if (const std::string problem = findDisplayAndBus("gnome-shell"); !problem.empty())
        return problem;
    // XWayland lets in the holders of mutter's cookie, which a GNOME session hands its programs.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runtime_, error)) {
        if (entry.path().filename().string().starts_with(".mutter-Xwaylandauth."))
            environment_.push_back("XAUTHORITY=" + entry.path().string());
    }
    // The keyboard, and out of the Overview, once mutter's remote desktop is on the bus (a
    // little after the display is up).
    const std::string ready = runtime_ + "/keys-ready";
    const bool keyboard = waitUntil(
        [&] {
            if (!start({VAK_REMOTE_KEYS, ready})) return false;
            waitUntil([&] { return pathExists(ready) || started_.back()->hasExited(); }, 20);
            if (!pathExists(ready)) settle(1.0);
            return pathExists(ready);
        },
        kStartSeconds);
    return keyboard ? "" : "mutter's remote desktop gave no keyboard";
}

std::string HeadlessDesktop::startKwin(const std::string& kwin) {
    const std::string home = state_ + "/home";
    const std::string applications = home + "/.local/share/applications";
    std::error_code error;
    const std::string daemon = std::filesystem::canonical(VAK_BINARY, error).string();
    const auto entry = desktopEntryFor(daemon);
    if (!makeOwnedFolder(applications, uid_, gid_, 0755) || !entry ||
        !writeFileAtomic(applications + "/vak-dictate.desktop", *entry, 0644))
        return "cannot prepare " + state_;
    giveToUser(home);
    // A copy of the compositor without its file capability (a copy carries none), and the
    // daemon under a second name: a hard link where it can be, else a copy.
    const std::string copy = state_ + "/kwin_wayland";
    unlisted_ = state_ + "/unlisted-vak-dictate";
    std::filesystem::copy_file(kwin, copy, error);
    std::filesystem::create_hard_link(daemon, unlisted_, error);
    if (error) std::filesystem::copy_file(daemon, unlisted_, error);
    if (error || ::chmod(copy.c_str(), 0755) != 0)
        return "cannot copy kwin_wayland or the daemon into " + state_;
    // As a Plasma session says which desktop it is: the portal the session's bus starts picks
    // its KDE back end by it.
    environment_.push_back("XDG_CURRENT_DESKTOP=KDE");
    SpawnOptions options;
    options.argv = asUser({systemProgram("dbus-run-session"), "--", copy, "--virtual", "--xwayland",
                           "--width", "1280", "--height", "720", "--no-lockscreen"});
    compositor_ = Subprocess::spawn(options);
    if (const std::string problem = findDisplayAndBus(copy); !problem.empty()) return problem;
    // KWin is on the bus a little after its display is up.
    const auto gdbus = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), systemProgram("gdbus"));
        const auto result = run(arguments);
        return result && result->status.success();
    };
    const std::vector<std::string> kwinUp = {"introspect",   "--session",     "--dest",
                                             "org.kde.KWin", "--object-path", "/Scripting"};
    if (!waitUntil([&] { return gdbus(kwinUp); }, kStartSeconds))
        return "KWin did not come onto its session bus";
    // What Plasma's start tells the bus, so that the services it starts (the desktop's portal
    // and its KDE back end) find the display and know the desktop.
    const std::string display = environment_.at(environment_.size() - 2); // DISPLAY=…
    gdbus({"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
           "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.UpdateActivationEnvironment",
           "{'WAYLAND_DISPLAY': 'wayland-0', 'DISPLAY': '" + display.substr(8) +
               "', 'XDG_CURRENT_DESKTOP': 'KDE'}"});
    return {};
}

std::string HeadlessDesktop::findDisplayAndBus(const std::string& program) {
    if (!compositor_) return "cannot start " + program;
    std::optional<pid_t> pid;
    std::optional<pid_t> xwayland;
    const bool up = waitUntil(
        [&] {
            if (compositor_->hasExited()) return true;
            if (!pid) pid = findSessionProcess(runtime_, program);
            if (!xwayland) xwayland = findSessionProcess(runtime_, "/usr/bin/Xwayland");
            return pid && xwayland && pathExists(runtime_ + "/wayland-0");
        },
        kStartSeconds);
    if (!up || compositor_->hasExited()) return program + " did not come up";
    const std::string bus = environmentValue(*pid, "DBUS_SESSION_BUS_ADDRESS");
    const auto xCommand = procEntries(*xwayland, "cmdline");
    if (bus.empty() || xCommand.size() < 2 || !xCommand[1].starts_with(':'))
        return program + "'s session bus or XWayland display not found";
    environment_.push_back("WAYLAND_DISPLAY=wayland-0");
    environment_.push_back("DISPLAY=" + xCommand[1]);
    environment_.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus);
    return {};
}

HeadlessDesktop::~HeadlessDesktop() {
    for (const auto& [name, value] : savedEnvironment_)
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    for (const auto& child : started_)
        stopChild(child);
    if (ipc_) ipc_->command("exit");
    stopChild(compositor_);
    // What the session started, however detached (sway's `exec` forks twice), is found by the
    // private runtime folder in its environment.
    if (!runtime_.empty()) stopProcessesWith("XDG_RUNTIME_DIR=" + runtime_);
    stopChild(systemBus_);
    std::error_code ignored;
    if (!state_.empty()) std::filesystem::remove_all(state_, ignored);
}

std::vector<std::string> HeadlessDesktop::asUser(const std::vector<std::string>& command,
                                                 const std::vector<std::string>& extra) const {
    std::vector<std::string> argv;
    if (dropPrivileges_) {
        argv = {systemProgram("setpriv"), "--reuid=" + std::to_string(uid_),
                "--regid=" + std::to_string(gid_), "--init-groups"};
    }
    const passwd* user = ::getpwuid(uid_);
    argv.insert(argv.end(),
                {systemProgram("env"), "-i", "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                 std::string("USER=") + (user != nullptr ? user->pw_name : kTestUser)});
    argv.insert(argv.end(), environment_.begin(), environment_.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

std::vector<std::string>
HeadlessDesktop::asUserWithoutBus(const std::vector<std::string>& command,
                                  const std::vector<std::string>& extra) const {
    auto argv = asUser(command, extra);
    std::erase_if(argv, [](const std::string& entry) {
        return entry.starts_with("DBUS_SESSION_BUS_ADDRESS=");
    });
    return argv;
}

std::optional<ProcessResult> HeadlessDesktop::run(const std::vector<std::string>& command,
                                                  std::optional<std::string> input) const {
    RunOptions options;
    options.timeoutSeconds = 10;
    options.input = std::move(input);
    return runProcess(asUser(command), options);
}

bool HeadlessDesktop::start(const std::vector<std::string>& command,
                            const std::vector<std::string>& extra) {
    SpawnOptions options;
    options.argv = asUser(command, extra);
    auto child = Subprocess::spawn(options);
    if (child) started_.push_back(child);
    return child != nullptr;
}

std::string HeadlessDesktop::userFolder(const std::string& name) const {
    const std::string path = state_ + "/" + name;
    return makeOwnedFolder(path, uid_, gid_, 0755) ? path : std::string();
}

void HeadlessDesktop::giveToUser(const std::string& path) const {
    ::lchown(path.c_str(), uid_, gid_);
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error))
        ::lchown(entry.path().c_str(), uid_, gid_);
}

bool HeadlessDesktop::exec(const std::string& command) {
    return ipc_ && ipc_->command("exec " + command);
}

std::string HeadlessDesktop::focusedApp() {
    return ipc_ ? focusedApplication(ipc_->request(SwayIpc::GET_TREE, {}).value_or("")) : "";
}

} // namespace vak::test
