// The trigger key through the real GlobalShortcuts portal: xdg-desktop-portal with KDE's back end
// (which keeps the shortcuts in KDE's global-shortcut service) on a private session bus, without
// a compositor. The shortcuts are bound through the portal and then pressed and released
// through the global-shortcut service, as KWin does when their keys are pressed.
#include "base/files.h"
#include "base/main_queue.h"
#include "base/subprocess.h"
#include "foundation/trigger_keys.h"
#include "platform/linux/portal_shortcuts.h"
#include "support/headless_desktop.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::stopProcessesWith;
using test::systemProgram;

class PortalShortcuts : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* program : {"dbus-daemon", "gdbus"}) {
            if (systemProgram(program).empty()) GTEST_SKIP() << program << " is not installed";
        }
        for (const char* path : {"/usr/libexec/xdg-desktop-portal",
                                 "/usr/share/xdg-desktop-portal/portals/kde.portal"}) {
            if (!pathExists(path))
                GTEST_SKIP() << path
                             << " is missing (Debian packages xdg-desktop-portal, "
                                "xdg-desktop-portal-kde)";
        }
        runtime = dir.path() + "/runtime";
        ::mkdir(runtime.c_str(), 0700);
        ::mkdir((dir.path() + "/home").c_str(), 0700);
        const std::string socket = runtime + "/bus";
        SpawnOptions bus;
        bus.argv = {systemProgram("dbus-daemon"), "--session", "--nofork",
                    "--address=unix:path=" + socket};
        // What the services the bus starts inherit: a KDE session, Qt without a display.
        bus.environment = {"XDG_CURRENT_DESKTOP=KDE", "QT_QPA_PLATFORM=offscreen",
                           "HOME=" + dir.path() + "/home", "XDG_RUNTIME_DIR=" + runtime,
                           "XDG_CONFIG_HOME=" + dir.path() + "/home/.config"};
        bus_ = Subprocess::spawn(bus);
        ASSERT_TRUE(bus_);
        ASSERT_TRUE(test::waitUntil([&] { return pathExists(socket); }, 10));
        address = "unix:path=" + socket;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    void TearDown() override {
        monitor.reset();
        if (bus_) {
            bus_->terminate();
            bus_->wait();
        }
        if (!runtime.empty()) stopProcessesWith("XDG_RUNTIME_DIR=" + runtime);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    // A call on the private bus; its output, empty when it failed.
    std::string call(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = {systemProgram("gdbus"), "call", "--session", "--timeout",
                                         "10"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        RunOptions options;
        options.timeoutSeconds = 15;
        options.environment = {"DBUS_SESSION_BUS_ADDRESS=" + address};
        const auto result = runProcess(argv, options);
        return result && result->status.success() ? result->output : std::string();
    }

    test::TempDir dir;
    std::string runtime;
    std::string address;
    std::shared_ptr<Subprocess> bus_;
    std::unique_ptr<PortalShortcutMonitor> monitor;
};

// Each shortcut, pressed, arrives once as the trigger key's press: command mode's with Option.
// (Without a compositor nothing releases a key here: the global-shortcut service reports only
// presses when asked to press one.)
TEST_F(PortalShortcuts, EachShortcutArrivesAsTheTriggerKeysPress) {
    monitor = std::make_unique<PortalShortcutMonitor>(54, "Super+Alt+Space");
    ASSERT_TRUE(monitor->isTrusted(false)) << monitor->why();
    EXPECT_EQ(monitor->version(), 1u);
    std::vector<InputEvent> events;
    ASSERT_TRUE(monitor->start([&](const InputEvent& event) { events.push_back(event); }))
        << monitor->why();
    // The chords proposed, as the desktop took them.
    EXPECT_EQ(monitor->triggers(), "dictation=Meta+Alt+Space, command=Meta+Alt+Shift+Space");

    const TriggerKey& key = triggerKey(54);
    struct Press {
        const char* shortcut;
        std::uint64_t flags;
    };
    for (const Press& press : {Press{"dictation", key.bit | key.mask},
                               Press{"command", key.bit | key.mask | OPTION_MASK | 0x0020}}) {
        events.clear();
        ASSERT_EQ(
            call({"--dest", "org.kde.kglobalaccel", "--object-path", "/component/vak_dictate",
                  "--method", "org.kde.kglobalaccel.Component.invokeShortcut", press.shortcut}),
            "()\n")
            << press.shortcut;
        ASSERT_TRUE(test::waitUntil(
            [&] {
                defaultRunLoop().runFor(0.1);
                return !events.empty();
            },
            10))
            << press.shortcut;
        defaultRunLoop().runFor(0.3);
        EXPECT_EQ(events, (std::vector<InputEvent>{
                              {InputEventKind::FlagsChanged, key.code, press.flags, 0}}))
            << press.shortcut;
    }
}

} // namespace
} // namespace vak
