#include "platform/fake/fake_key_monitor.h"
#include "session/monitor_arming.h"
#include "support/log_capture.h"
#include "support/manual_main_queue.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;
using test::ManualMainQueue;

const std::string kArmed =
    "✓ key monitor armed — Right Super = dictation, Right Control = producer talk";
const std::string kWaiting =
    "⚠️ waiting for Accessibility — trigger key DISARMED until granted "
    "(X11 session ▸ DISPLAY ▸ XInput2 ▸ vak-dictate)";

struct Arming : ::testing::Test {
    void SetUp() override { installKeyMonitor(monitor); }

    std::shared_ptr<MonitorArming> make(TriggerSettings settings = {54, 62}) {
        return MonitorArming::create(
            settings, [this](const InputEvent& event) { seen.push_back(event); }, queue);
    }

    std::shared_ptr<FakeKeyMonitor> monitor = std::make_shared<FakeKeyMonitor>();
    ManualMainQueue queue;
    std::vector<InputEvent> seen;
    LogCapture logs;
};

TEST_F(Arming, ATrustedProcessArmsAtOnceAndEventsReachTheHandler) {
    auto arming = make();
    EXPECT_TRUE(arming->ensureAccessibility());
    EXPECT_EQ(monitor->promptedQueries(), 1);
    arming->armWhenTrusted();
    EXPECT_TRUE(arming->armed());
    EXPECT_EQ(queue.pending(), 0u);
    const InputEvent tap{InputEventKind::FlagsChanged, 54, 0x10};
    EXPECT_TRUE(monitor->deliver(tap));
    EXPECT_EQ(seen, std::vector<InputEvent>{tap});
    EXPECT_EQ(logs.messages(), (std::vector<std::string>{"✓ Accessibility granted", kArmed}));
}

TEST_F(Arming, AnUntrustedProcessPollsEveryThreeSecondsAndLogsTheWaitOnce) {
    monitor->setTrusted(false);
    auto arming = make();
    EXPECT_FALSE(arming->ensureAccessibility());
    arming->armWhenTrusted();
    queue.advance(2.9);
    EXPECT_EQ(monitor->starts(), 0);
    queue.advance(9.0); // three more polls, still untrusted
    EXPECT_FALSE(arming->armed());
    monitor->setTrusted(true);
    queue.advance(3.0);
    EXPECT_TRUE(arming->armed());
    EXPECT_EQ(monitor->starts(), 1);
    EXPECT_EQ(queue.pending(), 0u); // the poll ends once armed
    const auto lines = logs.messages();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("⚠️ Accessibility NOT granted — ", 0), 0u);
    EXPECT_EQ(lines[1], kWaiting);
    EXPECT_EQ(lines[2], kArmed);
}

TEST_F(Arming, AMonitorThatCannotStartKeepsPollingAndSaysSoOnce) {
    monitor->setStartFails(true);
    auto arming = make();
    arming->armWhenTrusted();
    queue.advance(7);
    EXPECT_FALSE(arming->armed());
    monitor->setStartFails(false);
    queue.advance(3);
    EXPECT_TRUE(arming->armed());
    EXPECT_EQ(logs.messages(), (std::vector<std::string>{
                                   "⚠️ key monitor could not start — trigger key DISARMED",
                                   kWaiting, kArmed}));
}

TEST_F(Arming, AMonitorsOwnWordsSayWhatToDoAndTheNoticeEndsWhenArmed) {
    monitor->setTrusted(false);
    monitor->setAccessHelp("join the input group");
    monitor->accessName_ = "keyboard access"; // Linux's words
    auto arming = make();
    std::vector<std::string> notices;
    arming->setOnDisarmed([&](const std::string& help) { notices.push_back(help); });
    EXPECT_FALSE(arming->ensureAccessibility());
    arming->armWhenTrusted();
    queue.advance(6);
    EXPECT_EQ(notices, std::vector<std::string>{"join the input group"});
    monitor->setTrusted(true);
    queue.advance(3);
    EXPECT_TRUE(arming->armed());
    EXPECT_EQ(notices, (std::vector<std::string>{"join the input group", ""}));
    EXPECT_EQ(
        logs.messages(),
        (std::vector<std::string>{
            "⚠️ keyboard access NOT granted — join the input group",
            "⚠️ waiting for keyboard access — trigger key DISARMED until granted (join the "
            "input group)",
            kArmed}));
}

TEST_F(Arming, TheArmedLinesNameTheWatchedKeysAndTheLauncherKey) {
    using Lines = std::vector<std::string>;
    const std::string launcher = " 55 (Left Super) is the key most desktops open their launcher "
                                 "with — each tap may open it too; another key can be set in the "
                                 "settings window";
    const std::vector<std::pair<TriggerSettings, Lines>> cases = {
        {{54, 0}, {"✓ key monitor armed — Right Super = dictation"}},
        {{61, 61}, {"✓ key monitor armed — Right Alt = dictation"}},
        {{62, 56}, {"✓ key monitor armed — Right Control = dictation, Left Shift = producer talk"}},
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
        LogCapture local;
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
