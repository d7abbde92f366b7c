// The daemon end to end: a private Xvfb display, a private PulseAudio server whose pipe source is
// the microphone, the fake whisper-cli as the only engine, and a paste-target window that
// records what it receives. The test taps keys through XTest and signals the daemon like a user
// and an automated check would.
#include "base/files.h"
#include "support/desktop_fixtures.h"
#include "support/pulse_server.h"
#include "support/xvfb.h"

#include <cmath>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::waitUntil;
using test::writeFixture;

class DaemonE2E : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        xvfb = new test::Xvfb();
        pulse = new test::PulseServer();
    }
    static void TearDownTestSuite() {
        delete pulse;
        delete xvfb;
    }

    void SetUp() override {
        if (!xvfb->running()) GTEST_SKIP() << "no private X display: " << xvfb->why();
        if (!pulse->running()) GTEST_SKIP() << "no private sound server: " << pulse->why();
        std::filesystem::create_directories(home.file(".dictation"));
        std::filesystem::create_directories(home.file(".whisper-models"));
        std::filesystem::create_directories(home.file("tools"));
        std::filesystem::create_directories(home.file("scratch"));
        writeFixture(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"), "model");
        // One engine only: the fake whisper-cli, answering whatever transcript.txt says.
        std::filesystem::create_symlink(VAK_FAKE_WHISPER_CLI, home.file("tools/whisper-cli"));
        writeFixture(home.file("tools/fake-whisper.conf"), "mode=write\n");
        writeFixture(home.file(".dictation/config"),
                     "CLOUD=0\nSERVER=0\nPREPROCESS=0\nLIVE_CAPTIONS=0\nCHUNK_SECONDS=0\n"
                     "INPUT_DEVICE=test pipe\n");
    }

    void TearDown() override {
        if (!daemon) return;
        daemon->terminate();
        auto watchdog = armWatchdog(daemon, 5);
        daemon->wait();
        watchdog.cancel();
    }

    void say(const std::string& transcript) {
        writeFixture(home.file("tools/transcript.txt"), transcript);
    }

    bool startDaemon() {
        SpawnOptions options;
        options.argv = {VAK_BINARY};
        options.environment = {"HOME=" + home.path(),
                               "VAK_TOOL_PATH=" + home.file("tools"),
                               "VAK_TMPDIR=" + home.file("scratch"),
                               "DISPLAY=" + xvfb->display(),
                               "PULSE_SERVER=" + pulse->serverAddress(),
                               "ASAN_OPTIONS=detect_leaks=0:strict_string_checks=0"};
        daemon = Subprocess::spawn(options);
        return daemon && waitForLog("▶ Brindle v8.28") && waitForLog("✓ key monitor armed");
    }

    std::string logText() const { return readFixture(home.file(".dictation/vak.log")); }
    bool waitForLog(const std::string& line, double seconds = 20) const {
        return waitUntil([&] { return logText().find(line) != std::string::npos; }, seconds);
    }

    // Half a second of a tone at the microphone, so the recording is not silent.
    static void speak() {
        std::vector<std::int16_t> tone(24000);
        for (std::size_t i = 0; i < tone.size(); ++i) {
            tone[i] = static_cast<std::int16_t>(
                8000 * std::sin(2 * M_PI * 300 * static_cast<double>(i) / 48000.0));
        }
        pulse->feed(tone);
        pulse->waitFed();
    }

    static test::Xvfb* xvfb;
    static test::PulseServer* pulse;
    TempDir home;
    test::Hands hands;
    std::shared_ptr<Subprocess> daemon;
};

test::Xvfb* DaemonE2E::xvfb = nullptr;
test::PulseServer* DaemonE2E::pulse = nullptr;

TEST_F(DaemonE2E, DictatesIntoTheFocusedWindowAndGivesTheClipboardBack) {
    test::PasteTarget target({"--clipboard", "text/plain", "EARLIER"});
    ASSERT_TRUE(target.ready());
    ASSERT_TRUE(hands.ready());
    say("hello from the daemon test");
    ASSERT_TRUE(startDaemon()) << logText();

    // The automated check's way in: SIGUSR2 pastes the marker.
    ::kill(daemon->pid(), SIGUSR2);
    ASSERT_TRUE(waitUntil([&] { return target.received() == "VAK_TEST_INSERT_OK"; }))
        << target.received() << logText();

    // A user's way in: tap Right Super, speak, tap again.
    hands.tap(keysym::Super_R);
    ASSERT_TRUE(waitForLog("● recording… (session 1) · mic=Test Pipe Mic")) << logText();
    speak();
    hands.tap(keysym::Super_R);
    ASSERT_TRUE(waitForLog("■ stopped, transcribing… (session 1)")) << logText();
    ASSERT_TRUE(waitUntil([&] {
        return target.received() == "VAK_TEST_INSERT_OKHello from the daemon test.";
    })) << target.received()
        << logText();
    EXPECT_TRUE(waitForLog("✓ 5 words · "));

    // After the restore the clipboard holds what the user had copied before.
    ASSERT_TRUE(waitUntil([&] { return test::clipboardFormats()["text/plain"] == "EARLIER"; }, 8));

    // Escape throws a recording away: nothing more arrives.
    hands.tap(keysym::Super_R);
    ASSERT_TRUE(waitForLog("● recording… (session 2)"));
    hands.tap(keysym::Escape);
    ASSERT_TRUE(waitForLog("✕ recording canceled — nothing transcribed"));
    test::settle(0.5);
    EXPECT_EQ(target.received(), "VAK_TEST_INSERT_OKHello from the daemon test.");
    EXPECT_EQ(logText().find("■ stopped, transcribing… (session 2)"), std::string::npos);
    EXPECT_FALSE(pathExists(home.file("scratch/vak_rec_2.wav")));

    // Ended by a signal (a logout, a kill) it quits as Quit does, so what it started ends too.
    daemon->terminate();
    EXPECT_TRUE(daemon->wait().success());
    EXPECT_TRUE(waitForLog("· signal 15 — quitting"));
    daemon.reset();
}

TEST_F(DaemonE2E, CommandModeRewritesTheSelectedText) {
    test::PasteTarget target({"--select", "hello world"});
    ASSERT_TRUE(target.ready());
    ASSERT_TRUE(hands.ready());
    say("make it all caps");
    ASSERT_TRUE(startDaemon()) << logText();

    hands.key(keysym::Alt_L, true);
    hands.tap(keysym::Super_R);
    hands.key(keysym::Alt_L, false);
    ASSERT_TRUE(waitForLog("🎯 command mode: 11 chars selected")) << logText();
    ASSERT_TRUE(waitForLog("● recording… (session 1)"));
    speak();
    hands.tap(keysym::Super_R);
    ASSERT_TRUE(waitUntil([&] { return target.received() == "HELLO WORLD"; }))
        << target.received() << logText();
    EXPECT_TRUE(waitForLog("· command edit handled in code (no AI needed)"));
}

} // namespace
} // namespace vak
