// The daemon end to end on a desktop: a private Xvfb display with the openbox window manager,
// a private PulseAudio server whose pipe source is the microphone, the fake whisper-cli as the
// only engine, and real applications (terminals, editors, the CopyQ clipboard manager) or a
// paste-target window that records what it receives. The test taps keys through XTest and
// signals the daemon like a user and an automated check would.
#include "audio/wav.h"
#include "base/files.h"
#include "e2e/daemon_fixture.h"
#include "session/text_insertion.h"
#include "support/desktop_apps.h"
#include "support/desktop_fixtures.h"
#include "support/pulse_server.h"
#include "support/run_binary.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vak {
namespace {

using test::bracketed;
using test::countOf;
using test::readFixture;
using test::settle;
using test::SmallFileSystem;
using test::TempDir;
using test::waitUntil;
using test::writeFixture;

class DaemonE2E : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        xvfb = new test::Xvfb();
        pulse = new test::PulseServer();
        if (xvfb->running()) windowManager = new test::WindowManager();
    }
    static void TearDownTestSuite() {
        delete windowManager;
        delete pulse;
        delete xvfb;
    }

    void SetUp() override {
        if (!xvfb->running()) GTEST_SKIP() << "no private X display: " << xvfb->why();
        if (!pulse->running()) GTEST_SKIP() << "no private sound server: " << pulse->why();
        if (!windowManager->running())
            GTEST_SKIP() << "no window manager: " << windowManager->why();
        test::prepareDaemonHome(home.path());
    }

    void TearDown() override { test::stopDaemon(daemon); }

    void say(const std::string& transcript) { test::say(home.path(), transcript); }

    bool startDaemon() {
        SpawnOptions options;
        options.argv = {VAK_BINARY};
        options.environment = test::daemonEnvironment(home.path(), *pulse);
        options.environment.push_back("DISPLAY=" + xvfb->display());
        for (const auto& [name, value] : environment) {
            std::erase_if(options.environment, [&key = name](const std::string& entry) {
                return entry.starts_with(key + "=");
            });
            options.environment.push_back(name + "=" + value);
        }
        // A restart in the same home: the new daemon's own lines, not the last one's.
        const std::size_t banners = countOf(logText(), "▶ Brindle v8.28");
        const std::size_t armed = countOf(logText(), "✓ key monitor armed");
        daemon = Subprocess::spawn(options);
        return daemon && waitUntil(
                             [&] {
                                 const std::string text = logText();
                                 return countOf(text, "▶ Brindle v8.28") > banners &&
                                        countOf(text, "✓ key monitor armed") > armed;
                             },
                             20);
    }

    // vak-dictate with `args` in the daemon's home and session.
    test::BinaryRun runVakHere(const std::vector<std::string>& args, double seconds) const {
        test::BinaryOptions options;
        for (const std::string& entry : test::daemonEnvironment(home.path(), *pulse)) {
            const auto equals = entry.find('=');
            options.env[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
        options.env["DISPLAY"] = xvfb->display();
        options.timeoutSeconds = seconds;
        return test::runVak(args, options);
    }

    std::string logText() const { return test::daemonLog(home.path()); }
    bool waitForLog(const std::string& line, double seconds = 20) const {
        return test::waitForDaemonLog(home.path(), line, seconds);
    }

    // A real application or terminal must be there (./scripts/test installs them); one that is
    // installed must come up.
    template <typename App>
    bool up(const App& app, const std::string& name) {
        if (app.ready()) return true;
        if (app.why().find("not installed") != std::string::npos) {
            std::cerr << "skipped " << name << ": " << app.why() << "\n";
        } else {
            ADD_FAILURE() << name << ": " << app.why();
        }
        return false;
    }
    // No dictated text in CopyQ's history (and it did watch: it holds the user's copy).
    void expectHistoryClean(const test::ClipboardManager& copyq, const std::string& userCopy,
                            const std::vector<std::string>& dictated) {
        const auto history = copyq.history();
        const auto kept = [&](const std::string& text) {
            return std::find(history.begin(), history.end(), text) != history.end();
        };
        EXPECT_TRUE(kept(userCopy)) << testing::PrintToString(history);
        for (const std::string& text : dictated)
            EXPECT_FALSE(kept(text)) << testing::PrintToString(history);
    }

    static void speak() { test::speak(*pulse); }

    static inline test::Xvfb* xvfb = nullptr;
    static inline test::PulseServer* pulse = nullptr;
    static inline test::WindowManager* windowManager = nullptr;
    TempDir home;
    test::Hands hands;
    std::shared_ptr<Subprocess> daemon;
    std::map<std::string, std::string> environment; // the daemon's, over daemonEnvironment's
};

// One start: the ways in, the clipboard given back, a cancel, command mode, a second daemon
// refused, and the end by a signal.
TEST_F(DaemonE2E, DictatesIntoTheFocusedWindowAndGivesTheClipboardBack) {
    test::PasteTarget target({"--clipboard", "text/plain", "EARLIER"});
    ASSERT_TRUE(target.ready());
    ASSERT_TRUE(hands.ready());
    say("hello from the daemon test");
    ASSERT_TRUE(startDaemon()) << logText();
    // A fresh home: the one-time purge found nothing of earlier versions, and the start's own
    // lines are all still there.
    EXPECT_TRUE(waitForLog("privacy migration: removed 0 plaintext transcripts")) << logText();
    EXPECT_EQ(countOf(logText(), "] ✓ local engine: whisper-cli"), 1u) << logText();

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

    // Command mode (Option with the trigger) rewrites the selection of the focused window.
    test::PasteTarget selected({"--select", "hello world"});
    ASSERT_TRUE(selected.ready());
    say("make it all caps");
    hands.key(keysym::Alt_L, true);
    hands.tap(keysym::Super_R);
    hands.key(keysym::Alt_L, false);
    ASSERT_TRUE(waitForLog("🎯 command mode: 11 chars selected")) << logText();
    ASSERT_TRUE(waitForLog("● recording… (session 3)"));
    speak();
    hands.tap(keysym::Super_R);
    ASSERT_TRUE(waitUntil([&] { return selected.received() == "HELLO WORLD"; }))
        << selected.received() << logText();
    EXPECT_TRUE(waitForLog("· command edit handled in code (no AI needed)"));

    // A second daemon (the autostart entry's beside the systemd unit's) ends at once and says
    // how to reach the first; it arms no key of its own.
    const test::BinaryRun second = runVakHere({}, 10);
    EXPECT_EQ(second.exitCode, 3);
    EXPECT_NE(second.err.find("already runs for this user — reach it with vak-dictate --toggle, "
                              "--settings or --quit"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(std::count(second.err.begin(), second.err.end(), '\n'), 1) << second.err;
    EXPECT_EQ(countOf(logText(), "key monitor armed"), 1u) << logText();
    EXPECT_FALSE(daemon->hasExited());

    // Ended by a signal (a logout, a kill) it quits as Quit does, so what it started ends too.
    daemon->terminate();
    EXPECT_TRUE(daemon->wait().success());
    EXPECT_TRUE(waitForLog("· signal 15 — quitting"));
    daemon.reset();
}

TEST_F(DaemonE2E, ADictationCutOffByTheDaemonsEndIsKeptAndRetried) {
    say("hello from the daemon test");
    struct End {
        int signo;
        const char* told; // the line that says the recording was kept
    };
    // TERM (a logout, systemctl stop): kept before the daemon ends. KILL (a crash, the
    // out-of-memory killer): kept by the next start, which says so (and a crash leaves no stale
    // lock).
    const End ends[] = {
        {SIGTERM, " of an interrupted dictation — Retry from the menu (session 1) · "},
        {SIGKILL, " of an interrupted dictation — Retry from the menu · vak_failed_1-2.wav"},
    };
    for (const End& end : ends) {
        SCOPED_TRACE(end.signo);
        ASSERT_TRUE(startDaemon()) << logText();
        ::kill(daemon->pid(), SIGUSR1);
        ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
        speak();
        settle(1); // the writer has the tone in the file
        ::kill(daemon->pid(), end.signo);
        const ExitStatus status = daemon->wait();
        EXPECT_EQ(status.signaled(), end.signo == SIGKILL);
        daemon.reset();
        ASSERT_TRUE(startDaemon()) << logText();
        EXPECT_EQ(countOf(logText(), end.told), 1u) << logText();
        test::stopDaemon(daemon);
        daemon.reset();
    }
    // Both are listed and transcribed again, not swept.
    const test::BinaryRun retry = runVakHere({"--retry-failed"}, 60);
    EXPECT_EQ(retry.exitCode, 0) << retry.err;
    EXPECT_EQ(countOf(retry.out, "\nHello from the daemon test.\n"), 2u) << retry.out;
    EXPECT_EQ(countOf(retry.out, "vak_failed_1"), 2u) << retry.out;
}

TEST_F(DaemonE2E, AFullScratchFolderLosesNoAudio) {
    // A scratch folder with room for two seconds of audio.
    const std::string scratch = home.file("scratch");
    const SmallFileSystem disk(scratch, 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "no small file system can be mounted here (needs root)";
    writeFixture(home.file("tools/fake-whisper.conf"), "mode=write\nkeep_inputs=1\n");
    say("hello from the daemon test");
    ASSERT_TRUE(startDaemon()) << logText();

    ::kill(daemon->pid(), SIGUSR1);
    ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
    test::speak(*pulse, 4);
    // Said when it happens, with its cause.
    EXPECT_TRUE(waitForLog("‼️ recording: writing " + scratch +
                           "/vak_rec_1.wav: No space left on device — holding the audio in memory"))
        << logText();
    settle(0.5);
    ::kill(daemon->pid(), SIGUSR1);
    ASSERT_TRUE(waitForLog("■ stopped, transcribing… (session 1)")) << logText();
    // Transcribed (pasted, or on the clipboard when no window has the focus).
    EXPECT_TRUE(waitForLog("5 words · ")) << logText();
    EXPECT_NE(logText().find("s kept in " + home.file(".dictation/overflow/vak_rec_1.wav")),
              std::string::npos)
        << logText();
    // The decoder heard all four seconds, not the two the folder took.
    std::int64_t heard = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home.file("tools"))) {
        if (entry.path().filename().string().starts_with("input-"))
            heard = std::max<std::int64_t>(heard, static_cast<std::int64_t>(entry.file_size()));
    }
    EXPECT_GE(heard, 44 + 4 * 32000 * 9 / 10);
    EXPECT_FALSE(pathExists(home.file(".dictation/overflow/vak_rec_1.wav")));
}

TEST_F(DaemonE2E, TheClipboardComesBackOnlyOnceTheFocusedWindowReadThePaste) {
    ASSERT_TRUE(startDaemon()) << logText();
    struct Case {
        double readAfter; // seconds from the paste key to the window's read of the clipboard
        bool readInTime;  // within the bound of the wait
    };
    // At once, late (a busy editor, an Electron program), and never within the bound.
    const Case cases[] = {{0.2, true}, {2.5, true}, {12, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.readAfter);
        test::PasteTarget target({"--clipboard", "text/plain", "USER-OLD-CLIP", "--paste-delay",
                                  std::to_string(c.readAfter)});
        ASSERT_TRUE(target.ready());
        const std::size_t unread = countOf(logText(), "clipboard given back without a read");
        ::kill(daemon->pid(), SIGUSR2);
        // Our reads from here are another program's: they do not count as the window's.
        ASSERT_TRUE(waitUntil(
            [&] { return test::clipboardFormats()["text/plain"] == "VAK_TEST_INSERT_OK"; }, 5));
        if (c.readInTime) {
            EXPECT_TRUE(waitUntil([&] { return target.received() == "VAK_TEST_INSERT_OK"; },
                                  c.readAfter + 3))
                << target.received();
        } else {
            EXPECT_TRUE(waitForLog("clipboard given back without a read", 12)) << logText();
        }
        EXPECT_TRUE(waitUntil(
            [&] { return test::clipboardFormats()["text/plain"] == "USER-OLD-CLIP"; }, 3));
        EXPECT_EQ(countOf(logText(), "clipboard given back without a read"),
                  unread + (c.readInTime ? 0 : 1));
    }
}

TEST_F(DaemonE2E, RealTerminalsOfEveryFamilyGetTheTextOnceAndTheSelectionsComeBack) {
    test::ClipboardManager copyq;
    if (!copyq.running()) GTEST_SKIP() << copyq.why();
    test::UserCopy user({"--clipboard", "text/plain", "EARLIER", "--primary", "SELECTED"});
    ASSERT_TRUE(user.ready());
    ASSERT_TRUE(waitUntil([&] { return !copyq.history().empty(); })) << "CopyQ is not watching";
    ASSERT_TRUE(hands.ready());
    say("hello from the daemon test");
    ASSERT_TRUE(startDaemon()) << logText();

    struct Terminal {
        const char* family;
        std::vector<std::string> command;
        const char* wmClass;
        bool dictate; // also a dictation with real taps of the trigger key
    };
    const std::vector<Terminal> terminals = {
        {"xterm", {"/usr/bin/xterm", "-e"}, "xterm", true},
        {"xterm", {"/usr/bin/urxvt", "-e"}, "urxvt", false},
        {"vte", {"/usr/bin/sakura", "-e"}, "sakura", false},
        {"qt", {"/usr/bin/qterminal", "-e"}, "qterminal", false},
    };
    int tried = 0;
    for (const Terminal& t : terminals) {
        SCOPED_TRACE(std::string(t.wmClass) + ", " + t.family + " family");
        test::RealTerminal terminal(t.command, t.wmClass);
        if (!up(terminal, t.wmClass)) continue;
        ++tried;
        ::kill(daemon->pid(), SIGUSR2);
        std::string expected = bracketed("VAK_TEST_INSERT_OK");
        EXPECT_TRUE(waitUntil([&] { return terminal.received() == expected; }))
            << terminal.received();
        if (t.dictate) {
            hands.tap(keysym::Super_R);
            EXPECT_TRUE(waitForLog("● recording… (session 1)")) << logText();
            speak();
            hands.tap(keysym::Super_R);
            expected += bracketed("Hello from the daemon test.");
            EXPECT_TRUE(waitUntil([&] { return terminal.received() == expected; }))
                << terminal.received() << logText();
        }
        // The clipboard and the selection become the user's again; by then a second paste or
        // the bytes of a shortcut the terminal does not bind (^V) would have arrived too.
        EXPECT_TRUE(waitUntil([&] {
            return test::clipboardFormats()["text/plain"] == "EARLIER" &&
                   test::primaryFormats()["text/plain"] == "SELECTED";
        }));
        EXPECT_EQ(terminal.received(), expected);
        EXPECT_TRUE(test::heldModifiers(hands.x()).empty());
    }
    if (tried == 0) GTEST_SKIP() << "none of the terminals is installed";
    EXPECT_EQ(logText().find("Nothing had the focus"), std::string::npos);
    expectHistoryClean(copyq, "EARLIER", {"VAK_TEST_INSERT_OK", "Hello from the daemon test."});
}

TEST_F(DaemonE2E, EditorsGetTheTextAndWithNothingFocusedItStaysOnTheClipboard) {
    test::ClipboardManager copyq;
    if (!copyq.running()) GTEST_SKIP() << copyq.why();
    test::UserCopy user({"--clipboard", "text/plain", "EARLIER"});
    ASSERT_TRUE(user.ready());
    ASSERT_TRUE(waitUntil([&] { return !copyq.history().empty(); })) << "CopyQ is not watching";
    ASSERT_TRUE(hands.ready());
    ASSERT_TRUE(startDaemon()) << logText();

    std::vector<std::unique_ptr<test::RealApp>> editors;
    for (const char* name : {"featherpad", "mousepad"}) {
        SCOPED_TRACE(name);
        const std::string file = home.file(std::string(name) + ".txt");
        writeFixture(file, "");
        auto editor = std::make_unique<test::RealApp>(
            std::vector<std::string>{std::string("/usr/bin/") + name, file}, name,
            std::vector<std::string>{"XDG_CONFIG_HOME=" + home.file(name), "NO_AT_BRIDGE=1"});
        if (!up(*editor, name)) continue;
        ::kill(daemon->pid(), SIGUSR2);
        // Both editors mark a changed document with a star in the title; once the synthetic
        // keys are over, save: the file holds what arrived (FeatherPad ends it with a line
        // break).
        EXPECT_TRUE(waitUntil([&] {
            return test::windowTitle(hands.x(), editor->window()).starts_with('*') &&
                   test::heldModifiers(hands.x()).empty();
        })) << test::windowTitle(hands.x(), editor->window());
        hands.key(keysym::Control_L, true);
        hands.tap(0x73 /* s */);
        hands.key(keysym::Control_L, false);
        EXPECT_TRUE(waitUntil([&] {
            const std::string saved = readFixture(file);
            return saved == "VAK_TEST_INSERT_OK" || saved == "VAK_TEST_INSERT_OK\n";
        })) << readFixture(file);
        EXPECT_TRUE(waitUntil([&] { return test::clipboardFormats()["text/plain"] == "EARLIER"; }));
        editors.push_back(std::move(editor));
    }

    // Every window minimised: nothing has the focus, so the text waits on the clipboard.
    for (const auto& editor : editors)
        test::minimise(hands.x(), editor->window());
    ASSERT_TRUE(waitUntil([&] { return !test::activeWindow(hands.x()); })) << "still active";
    ::kill(daemon->pid(), SIGUSR2);
    EXPECT_TRUE(waitForLog("⚠️ Nothing had the focus — your text is on the clipboard"))
        << logText();
    settle(TextInserter::kRestoreDelaySeconds + 0.5);
    EXPECT_EQ(test::clipboardFormats()["text/plain"], "VAK_TEST_INSERT_OK");
    expectHistoryClean(copyq, "EARLIER", {"VAK_TEST_INSERT_OK"});
}

TEST_F(DaemonE2E, ThePillFloatsAboveAFullScreenWindowWhichKeepsTheFocus) {
    ASSERT_TRUE(hands.ready());
    test::RealTerminal terminal({"/usr/bin/xterm", "-fullscreen", "-e"}, "xterm");
    if (!up(terminal, "xterm")) GTEST_SKIP();
    XcbConnection& x = hands.x();
    const auto state = x.property32List(terminal.window(), "_NET_WM_STATE");
    ASSERT_NE(std::find(state.begin(), state.end(), x.atom("_NET_WM_STATE_FULLSCREEN")),
              state.end());
    ASSERT_TRUE(startDaemon()) << logText();
    ::kill(daemon->pid(), SIGUSR1);
    ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();

    // Among the top-level windows (bottom first), a mapped one of the daemon's, the pill,
    // above the frame that holds the full-screen terminal.
    const std::uint32_t frame = test::topLevelOf(x, terminal.window());
    const auto pillAboveFrame = [&] {
        const auto stack = test::topLevelStack(x);
        const auto at = std::find(stack.begin(), stack.end(), frame);
        return std::any_of(at, stack.end(), [&](std::uint32_t window) {
            return window != frame && test::isViewable(x, window) &&
                   x.property32(window, "_NET_WM_PID") == static_cast<std::uint32_t>(daemon->pid());
        });
    };
    EXPECT_TRUE(waitUntil(pillAboveFrame, 5));
    settle(0.5); // the window manager may restack after the pill appeared
    EXPECT_TRUE(pillAboveFrame());
    EXPECT_EQ(test::activeWindow(x), terminal.window());
    hands.tap(keysym::Escape);
    EXPECT_TRUE(waitForLog("✕ recording canceled — nothing transcribed")) << logText();
}

// A first start with no decode model on a machine without a GPU, the real engine built from the
// pinned source on the tool path: the daemon comes up at once, chooses Parakeet and fetches it
// from the download site's stand-in, which breaks the transfer off; the next start resumes it,
// switches to it and times it; then a dictation of jfk.wav is decoded by the Parakeet server
// (the only local engine of a Parakeet model, the cloud off).
TEST_F(DaemonE2E, AFirstStartChoosesParakeetFetchesItAndDictatesWithIt) {
    const char* bin = std::getenv("VAK_REAL_WHISPER_BIN");
    const char* data = std::getenv("VAK_REAL_WHISPER_DATA");
    if (bin == nullptr || data == nullptr ||
        !isExecutableFile(std::string(bin) + "/vak-parakeet-server"))
        GTEST_SKIP() << "no real engine build (./scripts/test makes one from the pinned source)";
    removeFile(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"));
    const test::ModelHost host(8000);
    std::filesystem::copy_file(std::string(data) + "/models/for-tests-ggml-parakeet-tdt.bin",
                               host.dir() + "/ggml-parakeet-tdt-0.6b-v3-f16.bin");
    environment = {{"VAK_TOOL_PATH", bin},
                   {"VAK_MODEL_BASE_URL", host.url()},
                   // The daemon's own decode server, on a port no one else's answers.
                   {"VAK_WHISPER_SERVER_URL", test::deadUrl("/inference")}};

    ASSERT_TRUE(startDaemon()) << logText();
    EXPECT_TRUE(waitForLog("· no decode model installed: choosing one for this machine"));
    ASSERT_TRUE(waitForLog("⚠️ model download at start: The download of parakeet-tdt-0.6b-v3 "
                           "broke off"))
        << logText();
    test::stopDaemon(daemon);
    ASSERT_TRUE(startDaemon()) << logText();
    EXPECT_TRUE(waitForLog("· resuming the download of parakeet-tdt-0.6b-v3 (1200 MiB)"));
    ASSERT_TRUE(waitForLog("✓ parakeet-tdt-0.6b-v3 (Parakeet) decodes 6 s of audio in ", 90))
        << logText();
    const std::string started = logText();
    const std::string said[] = {"· DECODE_MODEL=parakeet-tdt-0.6b-v3 chosen for this machine: ",
                                "on a CPU Parakeet's cost follows the clip",
                                "(GPU probe: Vulkan: ",
                                "✓ parakeet-tdt-0.6b-v3 downloaded (resumed).",
                                "✓ decode model now " +
                                    home.file(".whisper-models/ggml-parakeet-tdt-0.6b-v3.bin"),
                                "· timing one decode of a short clip with parakeet-tdt-0.6b-v3"};
    for (const std::string& line : said)
        EXPECT_NE(started.find(line), std::string::npos) << line << "\n" << started;
    EXPECT_NE(readFixture(home.file(".dictation/config")).find("DECODE_MODEL=parakeet-tdt-0.6b-v3"),
              std::string::npos);

    // jfk.wav at the microphone's 48 kHz.
    const std::string wav = std::string(data) + "/samples/jfk.wav";
    const std::string bytes = readFixture(wav);
    const auto offset = findWavDataOffset(wav).value_or(44);
    std::vector<std::int16_t> samples;
    for (std::size_t at = offset; at + 1 < bytes.size(); at += 2) {
        const auto sample = static_cast<std::int16_t>(
            static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
        samples.insert(samples.end(), 3, sample);
    }
    ::kill(daemon->pid(), SIGUSR1);
    ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
    pulse->feed(samples);
    pulse->waitFed();
    ::kill(daemon->pid(), SIGUSR1);
    ASSERT_TRUE(waitForLog("■ stopped, transcribing… (session 1)")) << logText();
    // The test model hears nonsense, but words.
    EXPECT_TRUE(waitForLog(" words · ", 60)) << logText();
    const std::string after = logText().substr(started.size());
    EXPECT_EQ(after.find("!! Parakeet server"), std::string::npos) << after;
    EXPECT_EQ(after.find("empty transcription"), std::string::npos) << after;
    EXPECT_EQ(after.find("no transcription engine"), std::string::npos) << after;
}

} // namespace
} // namespace vak
