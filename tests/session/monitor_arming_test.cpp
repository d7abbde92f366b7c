#include "platform/fake/fake_key_monitor.h"
#include "session/monitor_arming.h"
#include "support/log_capture.h"
#include "support/manual_main_queue.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Lines = std::vector<std::string>;
const std::string kArmed =
    "✓ key monitor armed — Right Super = dictation, Right Control = producer talk";
const std::string kWaiting =
    "⚠️ waiting for Accessibility — trigger key DISARMED until granted "
    "(X11 session ▸ DISPLAY ▸ XInput2 ▸ vak-dictate)";

struct Arming : ::testing::Test {
    std::shared_ptr<MonitorArming> make(TriggerSettings settings = {54, 62}) {
        return MonitorArming::create(
            settings, [this](const InputEvent& event) { seen.push_back(event); }, queue, monitor);
    }

    std::shared_ptr<FakeKeyMonitor> monitor = std::make_shared<FakeKeyMonitor>();
    test::ManualMainQueue queue;
    std::vector<InputEvent> seen;
    test::LogCapture logs;
};

// Until the monitor may start it is tried again every three seconds; the wait is said once, in
// the monitor's own words when it has them, and the notice ends when it arms.
TEST_F(Arming, ArmsOnceTheMonitorIsTrustedAndStartsAndSaysTheWaitOnce) {
    struct Case {
        const char* what;
        bool trusted, startFails;
        const char* help;
        Lines logged, notices;
    };
    const std::string granted = "✓ Accessibility granted",
                      denied = "⚠️ Accessibility NOT granted — ";
    const std::string noStart = "⚠️ key monitor could not start — trigger key DISARMED";
    const std::string join = "join the input group";
    const Case cases[] = {
        {"trusted", true, false, "", {granted, kArmed}, {}},
        {"untrusted", false, false, "", {denied, kWaiting, kArmed}, {"", ""}},
        {"cannot start", true, true, "", {granted, noStart, kWaiting, kArmed}, {"", ""}},
        {"own words",
         false,
         false,
         "join the input group",
         {denied + join,
          "⚠️ waiting for Accessibility — trigger key DISARMED until granted (" + join + ")",
          kArmed},
         {join, ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        monitor = std::make_shared<FakeKeyMonitor>();
        monitor->setTrusted(c.trusted);
        monitor->setStartFails(c.startFails);
        monitor->setAccessHelp(c.help);
        test::LogCapture local;
        auto arming = make();
        Lines notices;
        arming->setOnDisarmed([&](const std::string& help) { notices.push_back(help); });
        EXPECT_EQ(arming->ensureAccessibility(), c.trusted);
        arming->armWhenTrusted();
        const bool waits = !c.trusted || c.startFails;
        EXPECT_EQ(arming->armed(), !waits);
        queue.advance(2.9);
        queue.advance(9.0); // three more tries that fail
        EXPECT_EQ(arming->armed(), !waits);
        EXPECT_EQ(monitor->starts() > 0, c.trusted); // never started untrusted
        // Asked at the prompt, at the first look and at three polls three seconds apart.
        if (!c.trusted) {
            EXPECT_EQ(monitor->trustQueries(), 5);
        }
        monitor->setTrusted(true);
        monitor->setStartFails(false);
        queue.advance(3.0);
        EXPECT_TRUE(arming->armed());
        EXPECT_EQ(queue.pending(), 0u); // the poll ends once armed
        Lines lines = local.messages();
        if (!c.trusted && !*c.help && !lines.empty()) lines[0].resize(lines[0].find("—") + 4);
        EXPECT_EQ(lines, c.logged);
        EXPECT_EQ(notices, c.notices);
        const InputEvent tap{InputEventKind::FlagsChanged, 54, 0x10};
        seen.clear();
        EXPECT_TRUE(monitor->deliver(tap));
        EXPECT_EQ(seen, std::vector<InputEvent>{tap});
    }
}

TEST_F(Arming, TheArmedLinesNameTheWatchedKeysAndTheLauncherKey) {
    const std::string launcher = " 55 (Left Super) is the key most desktops open their launcher "
                                 "with — each tap may open it too; another key can be set in the "
                                 "settings window";
    const std::vector<std::pair<TriggerSettings, Lines>> cases = {
        {{61, 61}, {"✓ key monitor armed — Right Alt = dictation"}},
        {{54, 55},
         {"✓ key monitor armed — Right Super = dictation, Left Super = producer talk",
          "⚠️ PRODUCER_KEY" + launcher}},
        {{.hotkey = 54, .producerKey = 55, .producerToolsInstalled = false},
         {"✓ key monitor armed — Right Super = dictation",
          "· producer key not watched — the producer tools are not installed "
          "(~/.local/bin/producer-ctl)"}},
        {{55, 0}, {"✓ key monitor armed — Left Super = dictation", "⚠️ HOTKEY" + launcher}},
    };
    for (const auto& [settings, lines] : cases) {
        test::LogCapture local;
        EXPECT_TRUE(make(settings)->installMonitor());
        EXPECT_EQ(local.messages(), lines);
    }
}

TEST_F(Arming, ThePollDoesNotKeepAReleasedArmingAlive) {
    monitor->setTrusted(false);
    auto arming = make();
    arming->armWhenTrusted();
    std::weak_ptr<MonitorArming> weak = arming;
    arming.reset();
    EXPECT_TRUE(weak.expired());
    monitor->setTrusted(true);
    queue.advance(10);
    EXPECT_EQ(monitor->starts(), 0);
}

} // namespace
} // namespace vak
