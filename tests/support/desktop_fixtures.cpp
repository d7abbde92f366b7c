#include "support/desktop_fixtures.h"

#include "base/files.h"
#include "base/unicode.h"
#include "platform/linux/x11_frontmost_app.h"

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace vak::test {

namespace {

constexpr double kStartSeconds = 20;

std::map<std::string, std::string> dumpedSelection(const char* flag) {
    TempDir dir;
    SpawnOptions options;
    options.argv = {VAK_PASTE_TARGET, flag, dir.file("dump")};
    auto dumper = Subprocess::spawn(options);
    if (!dumper) return {};
    auto watchdog = armWatchdog(dumper, 20);
    // The test's own event loop may hold the selection the dumper reads.
    waitUntil([&] { return dumper->hasExited(); }, 25);
    dumper->wait();
    watchdog.cancel();
    return dumpedFormats(readFixture(dir.file("dump")));
}

} // namespace

Hands::Hands() : x_(XcbConnection::open()), map_(x_ ? x_->keyboardMap() : std::nullopt) {}

void Hands::key(std::uint32_t sym, bool press) {
    xcb_test_fake_input(x_->raw(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                        map_->keycodeFor(sym).value_or(0), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                        0);
    x_->sync();
}

void Hands::button(std::uint8_t number) {
    for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE})
        xcb_test_fake_input(x_->raw(), type, number, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    x_->sync();
}

void Hands::click(int x, int y) {
    xcb_test_fake_input(x_->raw(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, x_->root(),
                        static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
    button(1);
}

void Hands::setProperty(std::uint32_t window, const char* name, std::uint32_t type,
                        std::uint8_t format, const void* data, std::uint32_t count) {
    xcb_change_property(x_->raw(), XCB_PROP_MODE_REPLACE, window, x_->atom(name), type, format,
                        count, data);
    x_->sync();
}

PasteTarget::PasteTarget(std::vector<std::string> extra) {
    SpawnOptions options;
    options.argv = {VAK_PASTE_TARGET, "--record", dir_.file("record"), "--ready",
                    dir_.file("ready")};
    options.argv.insert(options.argv.end(), extra.begin(), extra.end());
    process_ = Subprocess::spawn(options);
    ready_ = process_ && waitUntil([&] { return !readFixture(dir_.file("ready")).empty(); });
    if (ready_) window_ = static_cast<std::uint32_t>(std::stoul(readFixture(dir_.file("ready"))));
}

std::map<std::string, std::string> dumpedFormats(const std::string& dump) {
    std::map<std::string, std::string> formats;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        std::string& bytes = formats[line.substr(0, tab)];
        for (std::size_t i = tab + 1; tab != std::string::npos && i + 1 < line.size(); i += 2)
            bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    return formats;
}

std::map<std::string, std::string> clipboardFormats() {
    return dumpedSelection("--dump-clipboard");
}

std::map<std::string, std::string> primaryFormats() {
    return dumpedSelection("--dump-primary");
}

bool DesktopProgram::start(std::vector<std::string> argv) {
    if (!isExecutableFile(argv.at(0))) {
        why_ = argv[0] + " is not installed";
        return false;
    }
    SpawnOptions options;
    options.argv = std::move(argv);
    options.environment = settings();
    process_ = Subprocess::spawn(options, &why_);
    return process_ != nullptr;
}

std::vector<std::string> DesktopProgram::settings() const {
    // No accessibility bus to look for, no GPU to find.
    return {"HOME=" + dir_.path(),
            "XDG_CONFIG_HOME=" + dir_.file("config"),
            "XDG_DATA_HOME=" + dir_.file("data"),
            "XDG_CACHE_HOME=" + dir_.file("cache"),
            "NO_AT_BRIDGE=1",
            "LIBGL_ALWAYS_SOFTWARE=1"};
}

WindowManager::WindowManager() {
    if (!start({"/usr/bin/openbox"})) return;
    const auto x = XcbConnection::open();
    const auto up = [&] {
        const auto check = x->property32(x->root(), "_NET_SUPPORTING_WM_CHECK");
        return check && *check != 0;
    };
    if (!x || !waitUntil(up, kStartSeconds)) why_ = "openbox did not come up";
}

std::optional<std::uint32_t> activeWindow(XcbConnection& x) {
    const auto active = x.property32(x.root(), "_NET_ACTIVE_WINDOW");
    if (!active || *active == 0) return std::nullopt;
    return active;
}

bool modifierHeld(XcbConnection& x) {
    const auto keys = x.heldKeys();
    const auto codes = x.modifierKeycodes();
    return keys &&
           std::any_of(codes.begin(), codes.end(), [&](auto code) { return (*keys)[code]; });
}

RealApp::RealApp(std::vector<std::string> argv, const std::string& wmClass) {
    const auto x = XcbConnection::open();
    if (!x) {
        why_ = "no display";
        return;
    }
    const auto before = x->property32List(x->root(), "_NET_CLIENT_LIST");
    if (!start(argv)) return;
    // A new client of that class, made the active window.
    const auto isNew = [&](std::uint32_t window) {
        const auto name = wmClassName(x->property(window, "WM_CLASS").value_or(""));
        return std::count(before.begin(), before.end(), window) == 0 && name &&
               toLower(*name) == toLower(wmClass);
    };
    waitUntil(
        [&] {
            const auto active = activeWindow(*x);
            if (active && isNew(*active)) window_ = *active;
            return window_ != 0 || process_->hasExited();
        },
        kStartSeconds);
    if (window_ == 0) why_ = argv[0] + ": no active window of class " + wmClass;
}

ClipboardManager::ClipboardManager() : session_("vak" + std::to_string(::getpid())) {
    // In the foreground (no --start-server, which detaches), so that it ends with the fixture.
    if (!start({"/usr/bin/copyq", "-s", session_})) return;
    // It answers before its clipboard monitor runs, and a copy made before that is never
    // recorded: copy a probe until it shows up in the history.
    const std::string probe = "vak clipboard manager probe";
    const bool records = waitUntil(
        [&] {
            const PasteTarget copy({"--hidden", "--clipboard", "text/plain", probe});
            return copy.ready() && waitUntil([&] { return history() == std::vector{probe}; }, 1);
        },
        kStartSeconds);
    if (!records) why_ = "CopyQ does not record the clipboard";
}

ClipboardManager::~ClipboardManager() {
    if (running()) ask({"exit"});
}

std::optional<std::string> ClipboardManager::ask(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"/usr/bin/copyq", "-s", session_};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.timeoutSeconds = 10;
    options.environment = settings();
    const auto result = runProcess(argv, options);
    if (!result || !result->status.success()) return std::nullopt;
    return result->output;
}

std::vector<std::string> ClipboardManager::history() const {
    // One JSON array, so that line breaks cannot split an item.
    const auto out = ask({"eval", "--",
                          "var items = []; for (var i = 0; i < size(); ++i) "
                          "items.push(str(read(i))); print(JSON.stringify(items))"});
    const auto items = nlohmann::json::parse(out.value_or(""), nullptr, false);
    return items.is_array() ? items.get<std::vector<std::string>>() : std::vector<std::string>{};
}

} // namespace vak::test
