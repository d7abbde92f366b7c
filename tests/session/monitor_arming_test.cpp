#include "platform/fake/fake_key_monitor.h"
#include "session/monitor_arming.h"
#include "support/log_capture.h"
#include "support/manual_main_queue.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Lines = std::vector<std::string>;

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
        bool trusted, startFails;
        std::string help;
        Lines notices;
    };
    const Case cases[] = {
        {true, false, "", {}},
        {false, false, "", {"", ""}},
        {true, true, "", {"", ""}},
        {false, false, "join the input group", {"join the input group", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.trusted << c.startFails << c.help);
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
        queue.advance(11.9); // three more tries that fail
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
        const Lines lines = local.messages();
        const auto waitLines = std::count_if(lines.begin(), lines.end(), [](const auto& line) {
            return line.starts_with("⚠️ waiting for Accessibility — trigger key DISARMED");
        });
        EXPECT_EQ(waitLines, waits ? 1 : 0);
        EXPECT_TRUE(lines.back().starts_with("✓ key monitor armed")) << lines.back();
        EXPECT_EQ(notices, c.notices);
        seen.clear();
        EXPECT_TRUE(monitor->deliver({InputEventKind::FlagsChanged, 54, 0x10}));
        EXPECT_EQ(seen.size(), 1u);
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
