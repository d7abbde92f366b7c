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
    std::string allow;
    for (const char* rule : {"user=\"*\"", "own=\"*\""})
        allow += std::string("    <allow ") + rule + "/>\n";
    for (const char* kind : {"send", "receive"}) {
        for (const char* type : {"method_call", "signal", "method_return", "error"})
            allow += std::string("    <allow ") + kind + "_type=\"" + type + "\"/>\n";
    }
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>system</type>\n  <listen>unix:path=" +
           socket + "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n" + allow +
           "  </policy>\n</busconfig>\n";
}

// A file of /proc/PID/; empty when the process is gone, even halfway through the read (where a
// stream would throw).
std::string readProcFile(pid_t pid, const char* name) {
    const UniqueFd fd(
        ::open(("/proc/" + std::to_string(pid) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    return fd.get() < 0 ? std::string() : readAll(fd.get()).value_or("");
}

// The NUL-separated entries of a /proc file.
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

// A process's environment variable, empty when it has none or cannot be read.
std::string environmentValue(pid_t pid, const std::string& name) {
    for (const std::string& entry : procEntries(pid, "environ")) {
        if (entry.starts_with(name + "=")) return entry.substr(name.size() + 1);
    }
    return {};
}

// The process whose runtime folder is `runtime` and whose command line starts with `program`
// (a path or a name).
std::optional<pid_t> findSessionProcess(const std::string& runtime, const std::string& program) {
    for (const pid_t pid : processes()) {
        const auto command = procEntries(pid, "cmdline");
        if (command.empty() ||
            (command[0] != program && std::filesystem::path(command[0]).filename() != program))
            continue;
        if (environmentValue(pid, "XDG_RUNTIME_DIR") == runtime) return pid;
    }
    return std::nullopt;
}

bool makeOwnedFolder(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && ::chmod(path.c_str(), mode) == 0 && ::chown(path.c_str(), uid, gid) == 0;
}

// The package's desktop entry with Exec naming `binary`.
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

std::optional<SessionUser> SessionUser::forTests(std::string* why) {
    if (::geteuid() != 0) return SessionUser{::getuid(), ::getgid(), false};
    const auto found = [] {
        const passwd* user = ::getpwnam(kTestUser);
        return user != nullptr ? std::optional(SessionUser{user->pw_uid, user->pw_gid, true})
                               : std::nullopt;
    };
    if (auto user = found()) return user;
    const std::string useradd = systemProgram("useradd");
    RunOptions options;
    const auto result = useradd.empty() ? std::nullopt
                                        : runProcess({useradd, "--user-group", "--no-create-home",
                                                      "--shell", "/usr/sbin/nologin", kTestUser},
                                                     options);
    if (auto user = found()) return user;
    *why = "cannot create the test user " + std::string(kTestUser) +
           (result ? "" : " (useradd did not run)");
    return std::nullopt;
}

std::vector<std::string> SessionUser::run(const std::vector<std::string>& command,
                                          const std::vector<std::string>& environment,
                                          const std::vector<std::string>& extra) const {
    std::vector<std::string> argv;
    if (dropPrivileges) {
        argv = {systemProgram("setpriv"), "--reuid=" + std::to_string(uid),
                "--regid=" + std::to_string(gid), "--init-groups"};
    }
    const passwd* user = ::getpwuid(uid);
    argv.insert(argv.end(),
                {systemProgram("env"), "-i", "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                 std::string("USER=") + (user != nullptr ? user->pw_name : kTestUser)});
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

HeadlessDesktop::HeadlessDesktop(Compositor compositor) {
    struct Row {
        const char* program;
        const char* package;
        std::string (HeadlessDesktop::*start)(const std::string&);
    };
    const Row row = compositor == Compositor::Sway
                        ? Row{"sway", "sway", &HeadlessDesktop::startSway}
                    : compositor == Compositor::Gnome
                        ? Row{"gnome-shell", "gnome-shell", &HeadlessDesktop::startGnome}
                        : Row{"kwin_wayland", "kwin-wayland", &HeadlessDesktop::startKwin};
    const std::string program = systemProgram(row.program);
    if (program.empty()) {
        why_ = std::string(row.program) + " is not installed (Debian package " + row.package + ")";
        return;
    }
    if (compositor != Compositor::Sway && systemProgram("dbus-run-session").empty()) {
        why_ = "dbus-run-session is not installed (Debian package dbus-daemon)";
        return;
    }
    const auto user = SessionUser::forTests(&why_);
    if (!user) return;
    user_ = *user;
    // XWayland, as the test user, needs the shared socket folder.
    if (user_.dropPrivileges && !pathExists("/tmp/.X11-unix"))
        makeOwnedFolder("/tmp/.X11-unix", 0, 0, 01777);
    char pattern[] = "/tmp/vak-desktop-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        why_ = "no temporary folder";
        return;
    }
    state_ = pattern;
    runtime_ = state_ + "/runtime";
    if (!makeOwnedFolder(runtime_, user_.uid, user_.gid, 0700) ||
        !makeOwnedFolder(state_ + "/home", user_.uid, user_.gid, 0700)) {
        why_ = "cannot prepare " + state_;
        return;
    }
    // The test user has no login shell: a terminal started without a command would run
    // nologin and close at once.
    environment_ = {"HOME=" + state_ + "/home", "XDG_RUNTIME_DIR=" + runtime_, "SHELL=/bin/sh"};
    why_ = (this->*row.start)(program);
    running_ = why_.empty();
}

std::string HeadlessDesktop::startSway(const std::string& sway) {
    if (!writeFileAtomic(state_ + "/config", kSwayConfig, 0644)) return "cannot prepare " + state_;
    SpawnOptions options;
    options.argv =
        asUser({sway, "--config", state_ + "/config"},
               {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
    compositor_ = Subprocess::spawn(options);
    if (!compositor_) return "cannot start sway";
    const std::string socket = runtime_ + "/sway-ipc." + std::to_string(user_.uid) + "." +
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
        if (user_.dropPrivileges && !xhost.empty()) run({xhost, "+si:localuser:root"});
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
    if (daemon.empty()) return "dbus-daemon is not installed (Debian package dbus-daemon)";
    if (!writeFileAtomic(state_ + "/system.conf", systemBusConfig(systemSocket), 0644))
        return "cannot prepare " + state_;
    SpawnOptions bus;
    bus.argv =
        user_.run({daemon, "--config-file=" + state_ + "/system.conf", "--nofork"}, environment_);
    systemBus_ = Subprocess::spawn(bus);
    if (!systemBus_ || !waitUntil([&] { return pathExists(systemSocket); }))
        return "the private system bus did not start";
    SpawnOptions options;
    options.argv = user_.run({systemProgram("dbus-run-session"), "--", shell, "--headless",
                              "--wayland", "--virtual-monitor", "1280x720"},
                             environment_, {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + systemSocket});
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
            const auto& child = started_.back();
            waitUntil([&] { return pathExists(ready) || child->hasExited(); }, 20);
            if (pathExists(ready)) return true;
            settle(1.0);
            return false;
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
    if (!makeOwnedFolder(applications, user_.uid, user_.gid, 0755) || !entry ||
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
    options.argv =
        user_.run({systemProgram("dbus-run-session"), "--", copy, "--virtual", "--xwayland",
                   "--width", "1280", "--height", "720", "--no-lockscreen"},
                  environment_);
    compositor_ = Subprocess::spawn(options);
    if (const std::string problem = findDisplayAndBus(copy); !problem.empty()) return problem;
    // KWin is on the bus a little after its display is up.
    const auto gdbus = [&](const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {systemProgram("gdbus")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        RunOptions run;
        run.timeoutSeconds = 5;
        const auto result = runProcess(asUser(argv), run);
        return result && result->status.success();
    };
    if (!waitUntil(
            [&] {
                return gdbus({"introspect", "--session", "--dest", "org.kde.KWin", "--object-path",
                              "/Scripting"});
            },
            kStartSeconds))
        return "KWin did not come onto its session bus";
    // What Plasma's start tells the bus, so that the services it starts (the desktop's portal
    // and its KDE back end) find the display and know the desktop.
    std::string display;
    for (const std::string& variable : environment_) {
        if (variable.starts_with("DISPLAY=")) display = variable.substr(8);
    }
    gdbus({"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
           "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.UpdateActivationEnvironment",
           "{'WAYLAND_DISPLAY': 'wayland-0', 'DISPLAY': '" + display +
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
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    for (const auto& child : started_)
        child->terminate();
    for (const auto& child : started_)
        child->wait();
    if (compositor_ && !compositor_->hasExited()) {
        if (!ipc_ || !ipc_->command("exit")) compositor_->terminate();
        auto watchdog = armWatchdog(compositor_, 5);
        compositor_->wait();
        watchdog.cancel();
    }
    // What the session started, however detached (sway's `exec` forks twice), is found by the
    // private runtime folder in its environment.
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

std::vector<std::string> HeadlessDesktop::asUser(const std::vector<std::string>& command,
                                                 const std::vector<std::string>& extra) const {
    return user_.run(command, environment_, extra);
}

std::vector<std::string>
HeadlessDesktop::asUserWithoutBus(const std::vector<std::string>& command,
                                  const std::vector<std::string>& extra) const {
    std::vector<std::string> kept;
    for (const std::string& entry : environment_) {
        if (!entry.starts_with("DBUS_SESSION_BUS_ADDRESS=")) kept.push_back(entry);
    }
    return user_.run(command, kept, extra);
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
    return makeOwnedFolder(path, user_.uid, user_.gid, 0755) ? path : std::string();
}

void HeadlessDesktop::giveToUser(const std::string& path) const {
    ::lchown(path.c_str(), user_.uid, user_.gid);
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error))
        ::lchown(entry.path().c_str(), user_.uid, user_.gid);
}

bool HeadlessDesktop::exec(const std::string& command) {
    return ipc_ && ipc_->command("exec " + command);
}

std::string HeadlessDesktop::tree() {
    return ipc_ ? ipc_->request(SwayIpc::GET_TREE, {}).value_or("") : std::string();
}

std::string HeadlessDesktop::focusedApp() {
    return focusedApplication(tree());
}

} // namespace vak::test
