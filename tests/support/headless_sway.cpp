#include "support/headless_sway.h"

#include "base/files.h"
#include "platform/linux/sway_ipc.h"
#include "support/wait.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

namespace {

constexpr const char* kTestUser = "vaktest";
constexpr double kStartSeconds = 15;

constexpr const char* kConfig = "swaybg_command -\n"
                                "swaynag_command -\n"
                                "xwayland enable\n"
                                "output HEADLESS-1 resolution 1280x720 position 0,0\n"
                                "focus_follows_mouse no\n"
                                "default_border none\n";

std::string program(const char* name) {
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"}) {
        const std::string path = std::string(dir) + name;
        if (isExecutableFile(path)) return path;
    }
    return {};
}

// The test user's ids, created first when missing.
std::optional<std::pair<uid_t, gid_t>> testUser(std::string* why) {
    if (const passwd* user = ::getpwnam(kTestUser)) return std::pair(user->pw_uid, user->pw_gid);
    const std::string useradd = program("useradd");
    RunOptions options;
    options.timeoutSeconds = 30;
    const auto result = useradd.empty() ? std::nullopt
                                        : runProcess({useradd, "--user-group", "--no-create-home",
                                                      "--shell", "/usr/sbin/nologin", kTestUser},
                                                     options);
    if (const passwd* user = ::getpwnam(kTestUser)) return std::pair(user->pw_uid, user->pw_gid);
    *why = "cannot create the test user " + std::string(kTestUser) +
           (result ? "" : " (useradd did not run)");
    return std::nullopt;
}

bool makeOwnedFolder(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && ::chmod(path.c_str(), mode) == 0 && ::chown(path.c_str(), uid, gid) == 0;
}

std::string readProcEnviron(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

HeadlessSway::HeadlessSway() {
    const std::string sway = program("sway");
    if (sway.empty()) {
        why_ = "sway is not installed (Debian package sway)";
        return;
    }
    dropPrivileges_ = ::geteuid() == 0;
    if (dropPrivileges_) {
        const auto ids = testUser(&why_);
        if (!ids) return;
        std::tie(uid_, gid_) = *ids;
        // XWayland, as the test user, needs the shared socket folder.
        if (!pathExists("/tmp/.X11-unix")) makeOwnedFolder("/tmp/.X11-unix", 0, 0, 01777);
    } else {
        uid_ = ::getuid();
        gid_ = ::getgid();
    }
    char pattern[] = "/tmp/vak-sway-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        why_ = "no temporary folder";
        return;
    }
    state_ = pattern;
    runtime_ = state_ + "/runtime";
    if (!makeOwnedFolder(runtime_, uid_, gid_, 0700) ||
        !makeOwnedFolder(state_ + "/home", uid_, gid_, 0700) ||
        !writeFileAtomic(state_ + "/config", kConfig, 0644)) {
        why_ = "cannot prepare " + state_;
        return;
    }
    environment_ = {"HOME=" + state_ + "/home", "XDG_RUNTIME_DIR=" + runtime_};

    SpawnOptions options;
    options.argv =
        asUser({sway, "--config", state_ + "/config"},
               {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
    sway_ = Subprocess::spawn(options, &why_);
    if (!sway_) return;

    const std::string socket = runtime_ + "/sway-ipc." + std::to_string(uid_) + "." +
                               std::to_string(sway_->pid()) + ".sock";
    std::string waylandDisplay;
    const bool up = waitUntil(
        [&] {
            if (sway_->hasExited()) return true;
            for (const char* name : {"wayland-1", "wayland-0", "wayland-2"}) {
                if (pathExists(runtime_ + "/" + name)) waylandDisplay = name;
            }
            if (waylandDisplay.empty() || !pathExists(socket)) return false;
            if (!ipc_) ipc_ = std::make_unique<SwayIpc>(socket);
            return ipc_->request(SwayIpc::GET_OUTPUTS, {}).has_value();
        },
        kStartSeconds);
    if (!up || sway_->hasExited()) {
        why_ = "sway did not come up";
        return;
    }
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
    if (!display.empty())
        environment_.push_back("DISPLAY=" + display.substr(0, display.find('\n')));

    SpawnOptions keyboard;
    const std::string wtype = program("wtype");
    if (!wtype.empty()) {
        // An empty text typed after an hour's sleep: a keyboard for the session's whole life.
        keyboard.argv = asUser({wtype, "-s", "3600000", "--", ""});
        keyboard_ = Subprocess::spawn(keyboard);
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
    running_ = true;
}

HeadlessSway::~HeadlessSway() {
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    if (sway_ && !sway_->hasExited()) {
        if (ipc_) ipc_->command("exit");
        auto watchdog = armWatchdog(sway_, 5);
        sway_->wait();
        watchdog.cancel();
    }
    if (keyboard_) {
        keyboard_->terminate();
        keyboard_->wait();
    }
    stopSessionProcesses();
    if (!state_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(state_, ignored);
    }
}

// sway starts programs detached from itself (its `exec` forks twice); what it started is found
// by the private runtime folder in its environment.
void HeadlessSway::stopSessionProcesses() {
    if (runtime_.empty()) return;
    const std::string marker = "XDG_RUNTIME_DIR=" + runtime_;
    for (int round = 0; round < 2; ++round) {
        bool found = false;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            const pid_t pid = static_cast<pid_t>(std::stol(name));
            const std::string environ = readProcEnviron(pid);
            if (environ.find(marker + '\0') == std::string::npos) continue;
            found = true;
            ::kill(pid, round == 0 ? SIGTERM : SIGKILL);
        }
        if (!found) return;
        settle(0.5);
    }
}

std::vector<std::string> HeadlessSway::asUser(const std::vector<std::string>& command,
                                              const std::vector<std::string>& extra) const {
    std::vector<std::string> argv;
    if (dropPrivileges_) {
        argv = {program("setpriv"), "--reuid=" + std::to_string(uid_),
                "--regid=" + std::to_string(gid_), "--init-groups"};
    }
    const passwd* user = ::getpwuid(uid_);
    argv.insert(argv.end(),
                {program("env"), "-i", "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                 std::string("USER=") + (user != nullptr ? user->pw_name : kTestUser)});
    argv.insert(argv.end(), environment_.begin(), environment_.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

std::optional<ProcessResult> HeadlessSway::run(const std::vector<std::string>& command,
                                               std::optional<std::string> input) const {
    RunOptions options;
    options.timeoutSeconds = 10;
    options.input = std::move(input);
    return runProcess(asUser(command), options);
}

std::string HeadlessSway::userFolder(const std::string& name) const {
    const std::string path = state_ + "/" + name;
    return makeOwnedFolder(path, uid_, gid_, 0755) ? path : std::string();
}

void HeadlessSway::giveToUser(const std::string& path) const {
    ::lchown(path.c_str(), uid_, gid_);
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error))
        ::lchown(entry.path().c_str(), uid_, gid_);
}

bool HeadlessSway::exec(const std::string& command) {
    return ipc_ && ipc_->command("exec " + command);
}

std::string HeadlessSway::tree() {
    return ipc_ ? ipc_->request(SwayIpc::GET_TREE, {}).value_or("") : std::string();
}

std::string HeadlessSway::focusedApp() {
    return focusedApplication(tree());
}

} // namespace vak::test
