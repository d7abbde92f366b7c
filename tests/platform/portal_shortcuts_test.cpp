// The trigger key through the real GlobalShortcuts portal: xdg-desktop-portal with KDE's back end
// (which keeps the shortcuts in KDE's global-shortcut service) on a private session bus, without
// a compositor. The shortcuts are bound through the portal and then pressed through the
// global-shortcut service, as KWin does when their keys are pressed.
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

using test::systemProgram;

// Each shortcut, pressed, arrives once as the trigger key's press: command mode's with Option.
// (Without a compositor nothing releases a key here: the global-shortcut service reports only
// presses when asked to press one.)
TEST(PortalShortcuts, EachShortcutArrivesAsTheTriggerKeysPress) {
    for (const std::string& needed :
         {std::string("/usr/libexec/xdg-desktop-portal"),
          std::string("/usr/share/xdg-desktop-portal/portals/kde.portal"),
          systemProgram("dbus-daemon"), systemProgram("gdbus")}) {
        if (needed.empty() || !pathExists(needed))
            GTEST_SKIP() << "missing: xdg-desktop-portal, its KDE back end, dbus-daemon or gdbus "
                            "(Debian packages xdg-desktop-portal-kde, libglib2.0-bin)";
    }
    test::TempDir dir;
    const std::string runtime = dir.path() + "/runtime";
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir((dir.path() + "/home").c_str(), 0700);
    SpawnOptions options;
    options.argv = {systemProgram("dbus-daemon"), "--session", "--nofork",
                    "--address=unix:path=" + runtime + "/bus"};
    // What the services the bus starts inherit: a KDE session, Qt without a display.
    options.environment = {"XDG_CURRENT_DESKTOP=KDE", "QT_QPA_PLATFORM=offscreen",
                           "HOME=" + dir.path() + "/home", "XDG_RUNTIME_DIR=" + runtime,
                           "XDG_CONFIG_HOME=" + dir.path() + "/home/.config"};
    const auto bus = Subprocess::spawn(options);
    ASSERT_TRUE(bus);
    // The bus, and every service it started, go at the end.
    const std::shared_ptr<void> stop(nullptr, [&](void*) {
        bus->terminate();
        bus->wait();
        test::stopProcessesWith("XDG_RUNTIME_DIR=" + runtime);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    });
    ASSERT_TRUE(test::waitUntil([&] { return pathExists(runtime + "/bus"); }, 10));
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime + "/bus").c_str(), 1);

    PortalShortcutMonitor monitor(54, "Super+Alt+Space");
    ASSERT_TRUE(monitor.isTrusted(false)) << monitor.why();
    EXPECT_EQ(monitor.version(), 1u);
    std::vector<InputEvent> events;
    ASSERT_TRUE(monitor.start([&](const InputEvent& event) { events.push_back(event); }))
        << monitor.why();
    // The chords proposed, as the desktop took them.
    EXPECT_EQ(monitor.triggers(), "dictation=Meta+Alt+Space, command=Meta+Alt+Shift+Space");

    const TriggerKey& key = triggerKey(54);
    for (const auto& [shortcut, flags] :
         {std::pair<std::string, std::uint64_t>{"dictation", key.bit | key.mask},
          {"command", key.bit | key.mask | OPTION_MASK | 0x0020}}) {
        events.clear();
        RunOptions call;
        call.timeoutSeconds = 15;
        const auto press =
            runProcess({systemProgram("gdbus"), "call", "--session", "--timeout", "10", "--dest",
                        "org.kde.kglobalaccel", "--object-path", "/component/vak_dictate",
                        "--method", "org.kde.kglobalaccel.Component.invokeShortcut", shortcut},
                       call);
        ASSERT_TRUE(press && press->output == "()\n") << shortcut;
        ASSERT_TRUE(test::waitUntil(
            [&] {
                defaultRunLoop().runFor(0.1);
                return !events.empty();
            },
            10))
            << shortcut;
        defaultRunLoop().runFor(0.3);
        EXPECT_EQ(events,
                  (std::vector<InputEvent>{{InputEventKind::FlagsChanged, key.code, flags, 0}}))
            << shortcut;
    }
}

} // namespace
} // namespace vak
