#include "support/headless_sway.h"

#include "base/files.h"
#include "platform/linux/sway_ipc.h"
#include "support/session_user.h"
#include "support/wait.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

namespace {

constexpr double kStartSeconds = 15;

constexpr const char* kConfig = "swaybg_command -\n"
                                "swaynag_command -\n"
                                "xwayland enable\n"
                                "output HEADLESS-1 resolution 1280x720 position 0,0\n"
                                "focus_follows_mouse no\n"
                                "default_border none\n";

} // namespace

HeadlessSway::HeadlessSway() {
    const std::string sway = systemProgram("sway");
    if (sway.empty()) {
        why_ = "sway is not installed (Debian package sway)";
        return;
    }
    const auto user = SessionUser::forTests(&why_);
    if (!user) return;
    user_ = *user;
    uid_ = user_.uid;
    gid_ = user_.gid;
    dropPrivileges_ = user_.dropPrivileges;
    // XWayland, as the test user, needs the shared socket folder.
    if (dropPrivileges_ && !pathExists("/tmp/.X11-unix"))
        makeOwnedFolder("/tmp/.X11-unix", 0, 0, 01777);
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
    // The test user has no login shell: a terminal started without a command would run
    // nologin and close at once.
    environment_ = {"HOME=" + state_ + "/home", "XDG_RUNTIME_DIR=" + runtime_, "SHELL=/bin/sh"};

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
    if (!display.empty()) {
        environment_.push_back("DISPLAY=" + display.substr(0, display.find('\n')));
        // XWayland lets in its own user only; the tests, as root, read it too.
        const std::string xhost = systemProgram("xhost");
        if (dropPrivileges_ && !xhost.empty()) run({xhost, "+si:localuser:root"});
    }

    SpawnOptions keyboard;
    const std::string wtype = systemProgram("wtype");
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
    if (!runtime_.empty()) stopProcessesWith("XDG_RUNTIME_DIR=" + runtime_);
}

std::vector<std::string> HeadlessSway::asUser(const std::vector<std::string>& command,
                                              const std::vector<std::string>& extra) const {
    return user_.run(command, environment_, extra);
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
    user_.own(path);
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
