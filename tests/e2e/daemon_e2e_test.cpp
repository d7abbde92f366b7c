// The daemon end to end on a private Xvfb display with openbox, real terminals and editors and the
// CopyQ clipboard manager, a private sound server as the microphone and the fake whisper-cli as
// the engine; keys are tapped through XTest, and signals sent as an automated check would.
#include "audio/wav.h"
#include "base/files.h"
#include "e2e/daemon_fixture.h"
#include "session/text_insertion.h"
#include "support/desktop_fixtures.h"
#include "support/run_binary.h"
#include "support/speech_fakes.h"
#include "support/xvfb.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <span>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace vak {
namespace {

using test::bracketed;
using test::countOf;
using test::readFixture;
using test::settle;
using test::waitUntil;
using test::writeFixture;

// A mapped window of process `pid` above the top-level window holding `window` in the stack.
bool shownAbove(XcbConnection& x, std::uint32_t window, pid_t pid) {
    while (const auto parent = x.parent(window)) {
        if (*parent == x.root()) break;
        window = *parent;
    }
    const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(x.raw(), xcb_query_tree(x.raw(), x.root()), nullptr), &std::free);
    if (!tree) return false;
    const std::span stack(xcb_query_tree_children(tree.get()),
                          static_cast<std::size_t>(xcb_query_tree_children_length(tree.get())));
    return std::any_of(std::ranges::find(stack, window), stack.end(), [&](xcb_window_t above) {
        const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> state(
            xcb_get_window_attributes_reply(x.raw(), xcb_get_window_attributes(x.raw(), above),
                                            nullptr),
            &std::free);
        return state && state->map_state == XCB_MAP_STATE_VIEWABLE &&
               x.property32(above, "_NET_WM_PID") == static_cast<std::uint32_t>(pid);
    });
}

constexpr const char* kMarker = "VAK_TEST_INSERT_OK";
constexpr const char* kSaid = "Hello from the daemon test.";

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
        test::say(home.path(), "hello from the daemon test");
    }

    void TearDown() override { test::stopChild(daemon); }

    bool startDaemon() {
        SpawnOptions options;
        options.argv = {VAK_BINARY};
        options.environment = test::daemonEnvironment(home.path(), *pulse);
        for (const std::string& entry : overrides) {
            std::erase_if(options.environment, [&](const std::string& inherited) {
                return inherited.starts_with(entry.substr(0, entry.find('=') + 1));
            });
            options.environment.push_back(entry);
        }
        // A restart in the same home: the new daemon's own line, not the last one's.
        const std::size_t armed = countOf(logText(), "✓ key monitor armed");
        daemon = Subprocess::spawn(options);
        return daemon &&
               waitUntil([&] { return countOf(logText(), "✓ key monitor armed") > armed; }, 20);
    }

    test::BinaryRun runVakHere(const std::vector<std::string>& args) const {
        test::BinaryOptions options;
        for (const std::string& entry : test::daemonEnvironment(home.path(), *pulse))
            options.env[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
        return test::runVak(args, options);
    }

    std::string logText() const { return test::daemonLog(home.path()); }
    bool waitForLog(const std::string& line, double seconds = 20) const {
        return test::waitForDaemonLog(home.path(), line, seconds);
    }
    bool clipboardIs(const std::string& text, double seconds = 10) {
        return waitUntil([&] { return test::clipboardFormats()["text/plain"] == text; }, seconds);
    }

    void signal(int signo) const { ::kill(daemon->pid(), signo); }

    static inline test::Xvfb* xvfb = nullptr;
    static inline test::PulseServer* pulse = nullptr;
    static inline test::WindowManager* windowManager = nullptr;
    test::TempDir home;
    test::Hands hands;
    std::shared_ptr<Subprocess> daemon;
    std::vector<std::string> overrides; // over daemonEnvironment's
};

// A recording is not lost to the daemon's end (kept before a TERM ends it, by the next start
// after a KILL, which also finds no stale lock), nor to a full scratch folder.
TEST_F(DaemonE2E, ADictationCutOffByTheDaemonsEndIsKeptAndRetried) {
    const std::pair<int, const char*> ends[] = {
        {SIGTERM, " of an interrupted dictation — Retry from the menu (session 1) · "},
        {SIGKILL, " of an interrupted dictation — Retry from the menu · vak_failed_1-2.wav"},
    };
    for (const auto& [signo, told] : ends) {
        SCOPED_TRACE(signo);
        ASSERT_TRUE(startDaemon()) << logText();
        signal(SIGUSR1);
        ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
        test::speak(*pulse);
        settle(1); // the writer has the tone in the file
        signal(signo);
        EXPECT_EQ(daemon->wait().signaled(), signo == SIGKILL);
        ASSERT_TRUE(startDaemon()) << logText();
        EXPECT_EQ(countOf(logText(), told), 1u) << logText();
        test::stopChild(daemon);
    }
    const test::BinaryRun retry = runVakHere({"--retry-failed"});
    EXPECT_EQ(retry.exitCode, 0) << retry.err;
    EXPECT_EQ(countOf(retry.out, "\n" + std::string(kSaid) + "\n"), 2u) << retry.out;
    EXPECT_EQ(countOf(retry.out, "vak_failed_1"), 2u) << retry.out;

    // A scratch folder with room for two seconds of four: said when it happens, and the decoder
    // hears all four.
    const std::string scratch = home.file("scratch");
    const test::SmallFileSystem disk(scratch, 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "no small file system can be mounted here (needs root)";
    writeFixture(home.file("tools/fake-whisper.conf"), "mode=write\nkeep_inputs=1\n");
    removeFile(home.file(".dictation/vak.log")); // the waits below read this start's lines
    ASSERT_TRUE(startDaemon()) << logText();
    signal(SIGUSR1);
    ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
    test::speak(*pulse, 4);
    EXPECT_TRUE(waitForLog("‼️ recording: writing " + scratch +
                           "/vak_rec_1.wav: No space left on device — holding the audio in memory"))
        << logText();
    settle(0.5);
    signal(SIGUSR1);
    EXPECT_TRUE(waitForLog("5 words · ")) << logText();
    const std::string overflow = home.file(".dictation/overflow/vak_rec_1.wav");
    EXPECT_NE(logText().find("s kept in " + overflow), std::string::npos) << logText();
    std::uintmax_t heard = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home.file("tools"))) {
        if (entry.path().filename().string().starts_with("input-"))
            heard = std::max(heard, entry.file_size());
    }
    EXPECT_GE(heard, 44u + 4 * 32000 * 9 / 10);
    EXPECT_FALSE(pathExists(overflow));
}

TEST_F(DaemonE2E, TheClipboardComesBackOnlyOnceTheFocusedWindowReadThePaste) {
    ASSERT_TRUE(startDaemon()) << logText();
    const std::string unread = "clipboard given back without a read";
    // At once, late (a busy editor, an Electron program), and never within the bound.
    for (const double readAfter : {0.2, 2.5, 12.0}) {
        SCOPED_TRACE(readAfter);
        const bool inTime = readAfter < 10;
        test::PasteTarget target({"--clipboard", "text/plain", "USER-OLD-CLIP", "--paste-delay",
                                  std::to_string(readAfter)});
        ASSERT_TRUE(target.ready());
        const std::size_t before = countOf(logText(), unread);
        signal(SIGUSR2);
        // Our reads from here are another program's: they do not count as the window's.
        ASSERT_TRUE(clipboardIs(kMarker, 5));
        if (inTime) {
            EXPECT_TRUE(waitUntil([&] { return target.received() == kMarker; }, readAfter + 3))
                << target.received();
        } else {
            EXPECT_TRUE(waitForLog(unread, 12)) << logText();
        }
        EXPECT_TRUE(clipboardIs("USER-OLD-CLIP", 3));
        EXPECT_EQ(countOf(logText(), unread), before + (inTime ? 0 : 1));
    }
}

// One start: terminals of every family get the text once, inside bracketed paste, and editors
// once; the clipboard and the selection come back, no modifier stays down and the clipboard
// manager keeps none of it. The trigger key dictates into the full-screen xterm, which keeps the
// focus. With no window left the text stays on the clipboard. A second daemon is refused, and a
// signal ends the first as Quit does.
TEST_F(DaemonE2E, DictatesIntoTheFocusedWindowOfRealTerminalsAndEditorsAndGivesTheClipboardBack) {
    ASSERT_TRUE(hands.ready());
    ASSERT_TRUE(startDaemon()) << logText();
    XcbConnection& x = hands.x();
    // A second daemon (the autostart entry's beside the systemd unit's) ends at once and says
    // how to reach the first; it arms no key of its own.
    const test::BinaryRun second = runVakHere({});
    EXPECT_EQ(second.exitCode, 3);
    EXPECT_NE(second.err.find("already runs for this user — reach it with vak-dictate --toggle, "
                              "--settings or --quit"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(std::count(second.err.begin(), second.err.end(), '\n'), 1) << second.err;
    EXPECT_EQ(countOf(logText(), "key monitor armed"), 1u) << logText();

    test::ClipboardManager copyq;
    if (!copyq.running()) GTEST_SKIP() << copyq.why();
    test::PasteTarget user(
        {"--hidden", "--clipboard", "text/plain", "EARLIER", "--primary", "SELECTED"});
    ASSERT_TRUE(user.ready());
    ASSERT_TRUE(waitUntil([&] {
        return std::ranges::count(copyq.history(), std::string("EARLIER")) > 0;
    })) << "CopyQ is not watching";
    struct App {
        const char* wmClass;
        std::vector<std::string> command;
        bool editor;
    };
    const App apps[] = {
        {"featherpad", {"/usr/bin/featherpad"}, true},
        {"mousepad", {"/usr/bin/mousepad"}, true},
        {"xterm", {"/usr/bin/xterm", "-fullscreen", "-e"}, false},
        {"urxvt", {"/usr/bin/urxvt", "-e"}, false},
        {"sakura", {"/usr/bin/sakura", "-e"}, false},
        {"qterminal", {"/usr/bin/qterminal", "-e"}, false},
    };
    bool dictated = false;
    for (const App& app : apps) {
        SCOPED_TRACE(app.wmClass);
        const std::string file = home.file(std::string(app.wmClass) + ".txt");
        auto command = app.command;
        if (!app.editor) command.push_back(VAK_TTY_RECORD);
        command.push_back(file);
        if (app.editor) writeFixture(file, "");
        const test::RealApp window(command, app.wmClass);
        // ./scripts/test installs them all; one that is installed must come up.
        if (!window.running()) {
            if (window.why().find("not installed") == std::string::npos)
                ADD_FAILURE() << window.why();
            std::cerr << "skipped " << app.wmClass << ": " << window.why() << "\n";
            continue;
        }
        ASSERT_TRUE(waitUntil([&] { return pathExists(file); }));
        // What the window holds: the terminal's record, or the editor's file without the line
        // break FeatherPad ends it with.
        const auto holds = [&] {
            std::string text = readFixture(file);
            if (app.editor && text.ends_with('\n')) text.pop_back();
            return text;
        };
        std::string expected = app.editor ? kMarker : bracketed(kMarker);
        signal(SIGUSR2);
        if (app.editor) {
            // Saved once changed (a star in the title) and the synthetic keys are over.
            const auto title = [&] { return x.property(window.window(), "_NET_WM_NAME"); };
            EXPECT_TRUE(waitUntil([&] {
                return title().value_or("").starts_with('*') && !test::modifierHeld(x);
            })) << title().value_or("");
            hands.key(keysym::Control_L, true);
            hands.tap(0x73 /* s */);
            hands.key(keysym::Control_L, false);
        }
        EXPECT_TRUE(waitUntil([&] { return holds() == expected; })) << holds() << logText();
        if (!app.editor && !dictated) {
            dictated = true;
            hands.tap(keysym::Super_R);
            ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
            // The pill floats above the full-screen window, which keeps the focus.
            EXPECT_TRUE(waitUntil([&] { return shownAbove(x, window.window(), daemon->pid()); }));
            settle(0.5); // the window manager may restack after the pill appeared
            EXPECT_TRUE(shownAbove(x, window.window(), daemon->pid()));
            EXPECT_EQ(test::activeWindow(x), window.window());
            test::speak(*pulse);
            hands.tap(keysym::Super_R);
            expected += bracketed(kSaid);
            EXPECT_TRUE(waitUntil([&] { return holds() == expected; })) << logText();
        }
        // The clipboard and the selection become the user's again; by then a second paste or
        // the bytes of a shortcut the terminal does not bind (^V) would have arrived too.
        EXPECT_TRUE(waitUntil([&] {
            return test::clipboardFormats()["text/plain"] == "EARLIER" &&
                   test::primaryFormats()["text/plain"] == "SELECTED";
        }));
        EXPECT_EQ(holds(), expected);
        EXPECT_FALSE(test::modifierHeld(x));
    }
    EXPECT_EQ(logText().find("Nothing had the focus"), std::string::npos);

    // Every window gone (the window manager may still name the last one as active).
    signal(SIGUSR2);
    EXPECT_TRUE(waitForLog("⚠️ Nothing had the focus — your text is on the clipboard"))
        << logText();
    settle(TextInserter::kRestoreDelaySeconds + 0.5);
    EXPECT_EQ(test::clipboardFormats()["text/plain"], kMarker);
    const auto history = copyq.history();
    for (const auto& [text, kept] :
         {std::pair{"EARLIER", true}, std::pair{kMarker, false}, std::pair{kSaid, false}})
        EXPECT_EQ(std::ranges::count(history, std::string(text)) > 0, kept)
            << text << testing::PrintToString(history);

    daemon->terminate();
    EXPECT_TRUE(daemon->wait().success());
    EXPECT_TRUE(waitForLog("· signal 15 — quitting"));
}

// A first start with no decode model on a machine without a GPU, the real engines on the tool
// path: the daemon chooses Parakeet and fetches it from the download site's stand-in, which breaks
// the transfer off; the next start resumes it from where it broke, switches to it, and decodes a
// dictation of jfk.wav with the Parakeet server (the only local engine of that model).
TEST_F(DaemonE2E, AFirstStartChoosesParakeetResumesItsDownloadAndDictatesWithIt) {
    const char* bin = std::getenv("VAK_REAL_WHISPER_BIN");
    const char* data = std::getenv("VAK_REAL_WHISPER_DATA");
    if (bin == nullptr || data == nullptr ||
        !isExecutableFile(std::string(bin) + "/vak-parakeet-server"))
        GTEST_SKIP() << "no real engine build (./scripts/test makes one from the pinned source)";
    removeFile(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"));
    const test::ModelHost host(8000);
    const std::string file = "ggml-parakeet-tdt-0.6b-v3-f16.bin";
    std::filesystem::copy_file(std::string(data) + "/models/for-tests-ggml-parakeet-tdt.bin",
                               host.dir() + "/" + file);
    overrides = {std::string("VAK_TOOL_PATH=") + bin, "VAK_MODEL_BASE_URL=" + host.url(),
                 "VAK_WHISPER_SERVER_URL=" + test::deadUrl("/inference")};
    ASSERT_TRUE(startDaemon()) << logText();
    ASSERT_TRUE(waitForLog("⚠️ model download at start: The download of parakeet-tdt-0.6b-v3 "
                           "broke off"))
        << logText();
    test::stopChild(daemon);
    ASSERT_TRUE(startDaemon()) << logText();
    ASSERT_TRUE(waitForLog("✓ parakeet-tdt-0.6b-v3 (Parakeet) decodes 6 s of audio in ", 90))
        << logText();
    const auto requests = host.requests();
    EXPECT_EQ(std::ranges::count(requests, "GET /" + file + " bytes=8000-"), 1)
        << testing::PrintToString(requests);
    EXPECT_NE(readFixture(home.file(".dictation/config")).find("DECODE_MODEL=parakeet-tdt-0.6b-v3"),
              std::string::npos);

    // jfk.wav at the microphone's 48 kHz.
    const std::string wav = std::string(data) + "/samples/jfk.wav";
    const std::string bytes = readFixture(wav);
    std::vector<std::int16_t> samples;
    for (std::size_t at = findWavDataOffset(wav).value_or(44); at + 1 < bytes.size(); at += 2)
        samples.insert(samples.end(), 3,
                       static_cast<std::int16_t>(static_cast<unsigned char>(bytes[at]) |
                                                 static_cast<unsigned char>(bytes[at + 1]) << 8));
    const std::size_t started = logText().size();
    signal(SIGUSR1);
    ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
    pulse->feed(samples);
    pulse->waitFed();
    signal(SIGUSR1);
    // The test model hears nonsense, but words, and from the Parakeet server.
    EXPECT_TRUE(waitForLog(" words · ", 60)) << logText();
    const std::string after = logText().substr(started);
    for (const char* fault : {"!! Parakeet server", "empty transcription", "no transcription"})
        EXPECT_EQ(after.find(fault), std::string::npos) << after;
}

} // namespace
} // namespace vak
