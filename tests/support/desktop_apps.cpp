#include "support/desktop_apps.h"

#include "base/files.h"
#include "base/unicode.h"
#include "platform/linux/x11_frontmost_app.h"
#include "support/wait.h"

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>
#include <unistd.h>
#include <xcb/xcb.h>

namespace vak::test {

namespace {

constexpr double kStartSeconds = 20;

// Stops a fixture's program and reaps it.
void stop(const std::shared_ptr<Subprocess>& process) {
    if (!process) return;
    process->terminate();
    auto watchdog = armWatchdog(process, 5);
    process->wait();
    watchdog.cancel();
}

std::string notInstalled(const std::string& program, const std::string& package) {
    return program + " is not installed (Debian package " + package + ")";
}

// Settings folders of its own for a program we start.
std::vector<std::string> privateSettings(const TempDir& dir) {
    return {"XDG_CONFIG_HOME=" + dir.file("config"), "XDG_DATA_HOME=" + dir.file("data"),
            "XDG_CACHE_HOME=" + dir.file("cache"),
            // No accessibility bus to look for, no GPU to find.
            "NO_AT_BRIDGE=1", "LIBGL_ALWAYS_SOFTWARE=1"};
}

std::optional<std::string> classOf(XcbConnection& x, std::uint32_t window) {
    const auto property = x.property(window, "WM_CLASS");
    if (!property) return std::nullopt;
    const auto name = wmClassName(*property);
    if (!name) return std::nullopt;
    return toLower(*name);
}

} // namespace

WindowManager::WindowManager() {
    const std::string program = "/usr/bin/openbox";
    if (!isExecutableFile(program)) {
        why_ = notInstalled("openbox", "openbox");
        return;
    }
    SpawnOptions options;
    options.argv = {program};
    options.environment = privateSettings(config_);
    std::string error;
    process_ = Subprocess::spawn(options, &error);
    if (!process_) {
        why_ = "cannot start openbox: " + error;
        return;
    }
    const auto x = XcbConnection::open();
    running_ = x && waitUntil(
                        [&] {
                            const auto check = x->property32(x->root(), "_NET_SUPPORTING_WM_CHECK");
                            return check && *check != 0;
                        },
                        kStartSeconds);
    if (!running_) why_ = "openbox did not come up";
}

WindowManager::~WindowManager() {
    stop(process_);
}

std::optional<std::uint32_t> activeWindow(XcbConnection& x) {
    const auto active = x.property32(x.root(), "_NET_ACTIVE_WINDOW");
    if (!active || *active == 0) return std::nullopt;
    return active;
}

std::vector<std::uint8_t> heldModifiers(XcbConnection& x) {
    std::vector<std::uint8_t> held;
    const auto keys = x.heldKeys();
    if (!keys) return held;
    for (const std::uint8_t code : x.modifierKeycodes()) {
        if ((*keys)[code] && std::find(held.begin(), held.end(), code) == held.end())
            held.push_back(code);
    }
    return held;
}

std::vector<std::uint32_t> topLevelStack(XcbConnection& x) {
    const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(x.raw(), xcb_query_tree(x.raw(), x.root()), nullptr), &std::free);
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

std::uint32_t topLevelOf(XcbConnection& x, std::uint32_t window) {
    while (const auto parent = x.parent(window)) {
        if (*parent == x.root()) break;
        window = *parent;
    }
    return window;
}

bool isViewable(XcbConnection& x, std::uint32_t window) {
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(x.raw(), xcb_get_window_attributes(x.raw(), window),
                                        nullptr),
        &std::free);
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::string windowTitle(XcbConnection& x, std::uint32_t window) {
    return x.property(window, "_NET_WM_NAME").value_or("");
}

void minimise(XcbConnection& x, std::uint32_t window) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x.atom("WM_CHANGE_STATE");
    message.data.data32[0] = 3; // IconicState
    xcb_send_event(x.raw(), 0, x.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    x.sync();
}

RealApp::RealApp(std::vector<std::string> argv, std::string wmClass,
                 std::vector<std::string> environment) {
    if (argv.empty() || !isExecutableFile(argv[0])) {
        why_ = (argv.empty() ? std::string("nothing") : argv[0]) + " is not installed";
        return;
    }
    const auto x = XcbConnection::open();
    if (!x) {
        why_ = "no display";
        return;
    }
    const auto before = x->property32List(x->root(), "_NET_CLIENT_LIST");
    SpawnOptions options;
    options.argv = std::move(argv);
    options.environment = std::move(environment);
    std::string error;
    process_ = Subprocess::spawn(options, &error);
    if (!process_) {
        why_ = "cannot start " + options.argv[0] + ": " + error;
        return;
    }
    // A new client of that class, made the active window.
    const std::string wanted = toLower(wmClass);
    waitUntil(
        [&] {
            if (process_->hasExited()) return true;
            const auto active = activeWindow(*x);
            if (!active || std::count(before.begin(), before.end(), *active) != 0) return false;
            if (classOf(*x, *active) != wanted) return false;
            window_ = *active;
            return true;
        },
        kStartSeconds);
    if (window_ == 0) why_ = options.argv[0] + ": no active window of class " + wmClass;
}

RealApp::~RealApp() {
    stop(process_);
}

RealTerminal::RealTerminal(std::vector<std::string> command, std::string wmClass) {
    command.push_back(VAK_TTY_RECORD);
    command.push_back(dir_.file("tty"));
    auto environment = privateSettings(dir_);
    environment.push_back("HOME=" + dir_.path());
    app_ = std::make_unique<RealApp>(std::move(command), std::move(wmClass), environment);
    // The window can come before the program in it has set its terminal up.
    why_ = app_->why();
    if (!app_->ready()) return;
    ready_ = waitUntil([&] { return pathExists(dir_.file("tty")); }, kStartSeconds);
    if (!ready_) why_ = "the program in the terminal did not start";
}

ClipboardManager::ClipboardManager() : session_("vak" + std::to_string(::getpid())) {
    const std::string program = "/usr/bin/copyq";
    if (!isExecutableFile(program)) {
        why_ = notInstalled("CopyQ", "copyq");
        return;
    }
    SpawnOptions options;
    // In the foreground (no --start-server, which detaches), so that it ends with the fixture.
    options.argv = {program, "-s", session_};
    options.environment = privateSettings(dir_);
    std::string error;
    server_ = Subprocess::spawn(options, &error);
    if (!server_) {
        why_ = "cannot start CopyQ: " + error;
        return;
    }
    if (!waitUntil([&] { return ask({"count"}).has_value(); }, kStartSeconds)) {
        why_ = "CopyQ did not come up";
        return;
    }
    // It answers before its clipboard monitor runs, and a copy made before that is never
    // recorded: copy a probe until it shows up in the history, then empty the history.
    const std::string probe = "vak clipboard manager probe";
    running_ = waitUntil(
        [&] {
            const UserCopy copy({"--clipboard", "text/plain", probe});
            return copy.ready() && waitUntil([&] { return history() == std::vector{probe}; }, 1);
        },
        kStartSeconds);
    if (!running_ || !ask({"eval", "--", "while (size() > 0) remove(0)"}) || !history().empty()) {
        running_ = false;
        why_ = "CopyQ does not record the clipboard";
    }
}

ClipboardManager::~ClipboardManager() {
    if (running_) ask({"exit"});
    stop(server_);
}

std::optional<std::string> ClipboardManager::ask(const std::vector<std::string>& args) const {
    SpawnOptions options;
    options.argv = {"/usr/bin/copyq", "-s", session_};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.environment = privateSettings(dir_);
    options.pipeStdout = true;
    auto client = Subprocess::spawn(options);
    if (!client) return std::nullopt;
    auto watchdog = armWatchdog(client, 10);
    std::string out = client->readStdoutToEnd();
    const ExitStatus status = client->wait();
    watchdog.cancel();
    if (!status.success()) return std::nullopt;
    return out;
}

std::vector<std::string> ClipboardManager::history() const {
    // One JSON array, so that line breaks cannot split an item.
    const auto out = ask({"eval", "--",
                          "var items = []; for (var i = 0; i < size(); ++i) "
                          "items.push(str(read(i))); print(JSON.stringify(items))"});
    const auto items = nlohmann::json::parse(out.value_or(""), nullptr, false);
    return items.is_array() ? items.get<std::vector<std::string>>() : std::vector<std::string>{};
}

UserCopy::UserCopy(std::vector<std::string> options) {
    SpawnOptions spawn;
    spawn.argv = {VAK_PASTE_TARGET, "--hidden", "--ready", dir_.file("ready")};
    spawn.argv.insert(spawn.argv.end(), options.begin(), options.end());
    process_ = Subprocess::spawn(spawn);
    ready_ = process_ && waitUntil([&] { return !readFixture(dir_.file("ready")).empty(); });
}

UserCopy::~UserCopy() {
    stop(process_);
}

} // namespace vak::test
