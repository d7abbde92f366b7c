// The daemon end to end on Wayland: a private headless sway with a foot terminal (a native
// Wayland window) holding the focus, the daemon and foot run as the session's unprivileged user,
// a private PulseAudio server as the microphone and the fake whisper-cli as the engine. The
// test signals the daemon as an automated check would (and stops a recording from the command
// line, as a user without the trigger key would) and reads what foot received.
#include "e2e/daemon_fixture.h"
#include "platform/linux/wayland_client.h"
#include "platform/linux/wayland_clipboard.h"
#include "support/headless_desktop.h"
#include "support/wait.h"

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace vak {
namespace {

using test::bracketed;
using test::readFixture;
using test::waitUntil;

// The recording pill's node in sway's tree, null when it is not shown.
nlohmann::json pillNode(const std::string& tree) {
    nlohmann::json found;
    const std::function<void(const nlohmann::json&)> visit = [&](const nlohmann::json& node) {
        if (!node.is_object()) return;
        if (node.value("name", "") == "vak-dictate pill") found = node;
        for (const char* children : {"nodes", "floating_nodes"}) {
            if (node.contains(children))
                for (const auto& child : node[children])
                    visit(child);
        }
    };
    visit(nlohmann::json::parse(tree, nullptr, false));
    return found;
}

class WaylandDaemon : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The sound server first: it points XDG_RUNTIME_DIR at its own folder, sway then at its.
        pulse = new test::PulseServer();
        sway = new test::HeadlessSway();
        // The daemon, as the session's user, reaches the server's socket.
        if (pulse->running()) {
            const auto folder =
                std::filesystem::path(pulse->serverAddress().substr(5)).parent_path();
            ::chmod(folder.c_str(), 0755);
        }
    }
    static void TearDownTestSuite() {
        delete sway;
        delete pulse;
    }

    void SetUp() override {
        if (!sway->running()) GTEST_SKIP() << "no headless sway: " << sway->why();
        if (!pulse->running()) GTEST_SKIP() << "no private sound server: " << pulse->why();
        home = sway->userFolder("daemon-home");
        test::prepareDaemonHome(home);
        sway->giveToUser(home);
        const std::string tty = sway->userFolder("tty");
        record = tty + "/record";
        // The record appears once the terminal has bracketed paste on.
        ASSERT_TRUE(sway->exec("foot -- " + std::string(VAK_TTY_RECORD) + " " + record));
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(record); }, 20));
        ASSERT_TRUE(waitUntil([] { return sway->focusedApp() == "foot"; }));
    }

    void TearDown() override { test::stopDaemon(daemon); }

    bool startDaemon() {
        SpawnOptions options;
        options.argv = sway->asUser({VAK_BINARY}, test::daemonEnvironment(home, *pulse));
        daemon = Subprocess::spawn(options);
        return daemon && waitForLog("▶ Brindle v8.28");
    }
    std::string logText() const { return test::daemonLog(home); }
    bool waitForLog(const std::string& line, double seconds = 20) const {
        return test::waitForDaemonLog(home, line, seconds);
    }
    // What another program reads of the clipboard.
    static std::string clipboard(const std::string& type) {
        const auto result = sway->run({"/usr/bin/wl-paste", "--no-newline", "--type", type});
        return result && result->status.success() ? result->output : "(nothing)";
    }

    static test::HeadlessSway* sway;
    static test::PulseServer* pulse;
    std::string home;
    std::string record;
    std::shared_ptr<Subprocess> daemon;
};

test::HeadlessSway* WaylandDaemon::sway = nullptr;
test::PulseServer* WaylandDaemon::pulse = nullptr;

TEST_F(WaylandDaemon, PastesAndDictatesIntoANativeWindowOnceAndGivesTheClipboardBack) {
    // What the user had copied: rich text, from another program.
    auto user = DataControlPasteboard::create(WaylandClient::connect());
    ASSERT_TRUE(user);
    user->write({{{{"text/html", "<i>earlier</i>"}, {"text/plain", "earlier"}}}});
    test::say(home, "hello from the daemon test");
    ASSERT_TRUE(startDaemon()) << logText();
    for (const char* chosen :
         {"synthetic paste and copy: wtype", "clipboard: data control",
          "frontmost application: sway's IPC", "floating panels: sway rules",
          "waiting for keyboard access — trigger key DISARMED until granted"}) {
        EXPECT_NE(logText().find(chosen), std::string::npos) << chosen << "\n" << logText();
    }

    // SIGUSR2: the marker, pasted the terminal's way (foot was read as the front application).
    ::kill(daemon->pid(), SIGUSR2);
    const std::string marker = bracketed("VAK_TEST_INSERT_OK");
    ASSERT_TRUE(waitUntil([&] { return readFixture(record).find(marker) != std::string::npos; }))
        << readFixture(record) << logText();
    ASSERT_TRUE(waitUntil([] { return clipboard("text/html") == "<i>earlier</i>"; }, 8));
    EXPECT_EQ(clipboard("text/plain"), "earlier");

    // SIGUSR1, speech, then --toggle: a dictation. The pill floats at the bottom centre of
    // the screen without taking the focus from foot.
    ::kill(daemon->pid(), SIGUSR1);
    ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
    ASSERT_TRUE(waitUntil([] { return !pillNode(sway->tree()).is_null(); }));
    const nlohmann::json pill = pillNode(sway->tree());
    EXPECT_EQ(pill.value("type", ""), "floating_con");
    EXPECT_FALSE(pill.value("focused", true));
    EXPECT_TRUE(waitUntil([] {
        const auto rect = pillNode(sway->tree())["rect"];
        return rect.value("x", 0) == 320 && rect.value("y", 0) == 496;
    })) << pillNode(sway->tree())["rect"].dump();
    EXPECT_EQ(sway->focusedApp(), "foot");
    test::speak(*pulse);
    // The trigger key is off (no /dev/input here), and the command line still stops it.
    RunOptions control;
    control.timeoutSeconds = 10;
    const auto toggled = runProcess(
        sway->asUser({VAK_BINARY, "--toggle"}, test::daemonEnvironment(home, *pulse)), control);
    ASSERT_TRUE(toggled && toggled->status.success()) << (toggled ? toggled->output : "");
    const std::string dictated = bracketed("Hello from the daemon test.");
    ASSERT_TRUE(waitUntil([&] { return readFixture(record).find(dictated) != std::string::npos; }))
        << readFixture(record) << logText();

    // Each arrived once, and nothing else did; the clipboard is the user's again.
    test::settle(1.0);
    EXPECT_EQ(readFixture(record), marker + dictated);
    EXPECT_TRUE(waitUntil([] { return clipboard("text/html") == "<i>earlier</i>"; }, 8));
    EXPECT_EQ(test::countOf(logText(), "⌨︎ simulated insert (SIGUSR2)"), 1u);
}

} // namespace
} // namespace vak
