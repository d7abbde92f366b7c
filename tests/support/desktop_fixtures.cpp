#include "support/desktop_fixtures.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace vak::test {

Hands::Hands() : x_(XcbConnection::open()), map_(x_ ? x_->keyboardMap() : std::nullopt) {}

void Hands::key(std::uint32_t sym, bool press) {
    xcb_test_fake_input(x_->raw(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                        map_->keycodeFor(sym).value_or(0), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                        0);
    x_->sync();
}

void Hands::button(std::uint8_t number) {
    for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
        xcb_test_fake_input(x_->raw(), type, number, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    }
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

PasteTarget::~PasteTarget() {
    if (!process_) return;
    process_->terminate();
    auto watchdog = armWatchdog(process_, 5);
    process_->wait();
    watchdog.cancel();
}

namespace {

// What `vak-paste-target <flag> FILE` dumps: one line per format, its name, a tab, its bytes in
// hex.
std::map<std::string, std::string> dumpedFormats(const char* flag) {
    TempDir dir;
    SpawnOptions options;
    options.argv = {VAK_PASTE_TARGET, flag, dir.file("dump")};
    auto dumper = Subprocess::spawn(options);
    if (!dumper) return {};
    auto watchdog = armWatchdog(dumper, 20);
    waitUntil([&] { return dumper->hasExited(); }, 25);
    dumper->wait();
    watchdog.cancel();
    std::map<std::string, std::string> formats;
    const std::string text = readFixture(dir.file("dump"));
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const auto tab = line.find('\t');
        std::string bytes;
        for (std::size_t i = tab + 1; i + 1 < line.size(); i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
        }
        formats[line.substr(0, tab)] = bytes;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return formats;
}

} // namespace

std::map<std::string, std::string> clipboardFormats() {
    return dumpedFormats("--dump-clipboard");
}

std::map<std::string, std::string> primaryFormats() {
    return dumpedFormats("--dump-primary");
}

} // namespace vak::test
