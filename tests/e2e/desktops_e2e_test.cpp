// The daemon end to end on a private headless sway, GNOME Shell or KWin (one per case), run as the
// session's user: each row starts a window with the focus and a daemon, and the test paste must
// arrive once, or, where no back end reaches a native window (no session bus on GNOME, a daemon
// no desktop entry names on KWin), stay on the clipboard with the log saying so.
#include "e2e/daemon_fixture.h"
#include "support/desktop_fixtures.h"
#include "support/headless_desktop.h"

#include <array>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::Compositor;
using test::readFixture;
using test::waitUntil;

enum class Window { Qt, QtThroughXWayland, Gtk, Terminal };

struct Row {
    Window window;
    bool listed; // with the session bus (GNOME), run from the path its desktop entry names (KWin)
    std::string logLine;
    bool pasted() const { return listed || window == Window::QtThroughXWayland; }
};

// The first row also dictates: the first dictation, after which the first-run note comes
// forward without taking the focus (on sway by a rule of the daemon's: sway focuses new windows).
struct DesktopCase {
    const char* name;
    Compositor desktop;
    std::vector<std::string> backEnds; // as the first row's daemon names them
    std::vector<Row> rows;
};

void PrintTo(const DesktopCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr const char* kMarker = "VAK_TEST_INSERT_OK";
const std::string kFront = "⌨︎ simulated insert (SIGUSR2) — front application: ";
const std::string kXTest = "synthetic paste and copy: XTest through XWayland";

class DesktopDaemon : public testing::TestWithParam<DesktopCase> {
  protected:
    void SetUp() override {
        gnome = GetParam().desktop == Compositor::Gnome;
        if (!pulse.running()) GTEST_SKIP() << "no private sound server: " << pulse.why();
        // The daemon, as the session's user, reaches the sound server's socket.
        ::chmod(std::filesystem::path(pulse.serverAddress().substr(5)).parent_path().c_str(), 0755);
        desktop = std::make_unique<test::HeadlessDesktop>(GetParam().desktop);
        if (!desktop->running()) GTEST_SKIP() << "no headless desktop: " << desktop->why();
    }

    void TearDown() override { closeRow(); }

    void closeRow() {
        test::stopChild(daemon);
        for (const auto& child : children)
            test::stopChild(child);
        children.clear();
    }

    void openRow(const Row& row, const std::string& name) {
        home = desktop->userFolder("home-" + name);
        test::prepareDaemonHome(home);
        desktop->giveToUser(home);
        const std::string folder = desktop->userFolder("target-" + name);
        record = folder + "/record";
        // Through data control where the compositor has it (KWin hands the Wayland clipboard an
        // X11 program's copy only while an X11 window has the focus); on GNOME in an X11 program
        // (Qt's Wayland clipboard takes no write from a program that has had no input).
        ASSERT_TRUE(gnome ? start({VAK_PASTE_TARGET, "--hidden", "--ready", folder + "/owned",
                                   "--clipboard", "text/plain", "earlier"},
                                  {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"})
                          : start({"/usr/bin/wl-copy", "--foreground", "earlier"}));
        // Long: on GNOME the first X11 program starts XWayland.
        ASSERT_TRUE(waitUntil([&] { return clipboardText() == "earlier"; }, 60));
        std::string up = folder + "/ready"; // there once the window is
        std::vector<std::string> command = {VAK_PASTE_TARGET, "--record", record, "--ready", up};
        std::vector<std::string> extra = {"QT_QPA_PLATFORM=wayland",
                                          "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
                                          "ASAN_OPTIONS=detect_leaks=0"};
        if (row.window == Window::QtThroughXWayland) extra[0] = "QT_QPA_PLATFORM=xcb";
        if (row.window == Window::Gtk) {
            command = {"/usr/bin/python3", VAK_GTK_TARGET, "--record", record, "--ready", up};
            extra = {"GDK_BACKEND=wayland"};
        } else if (row.window == Window::Terminal) {
            // foot 1.13 stops with a division by zero on KWin's virtual output. The record
            // appears once bracketed paste is on.
            command = {"/usr/bin/qterminal", "-e", std::string(VAK_TTY_RECORD) + " " + record};
            if (GetParam().desktop == Compositor::Sway)
                command = {"/usr/bin/foot", "--", VAK_TTY_RECORD, record};
            extra[2] = "XDG_CONFIG_HOME=" + folder;
            up = record;
        }
        ASSERT_TRUE(start(command, extra));
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(up); }, 30));
    }

    bool start(const std::vector<std::string>& command,
               const std::vector<std::string>& extra = {}) {
        SpawnOptions options;
        options.argv = desktop->asUser(command, extra);
        auto child = Subprocess::spawn(options);
        if (child) children.push_back(child);
        return child != nullptr;
    }

    bool startDaemon(bool listed) {
        const auto environment = test::daemonEnvironment(home, pulse);
        SpawnOptions options;
        options.argv = listed  ? desktop->asUser({VAK_BINARY}, environment)
                       : gnome ? desktop->asUserWithoutBus({VAK_BINARY}, environment)
                               : desktop->asUser({desktop->unlistedDaemon()}, environment);
        daemon = Subprocess::spawn(options);
        return daemon && waitForLog("▶ Brindle v8.28", 40);
    }
    std::string logText() const { return test::daemonLog(home); }
    bool waitForLog(const std::string& line, double seconds = 20) const {
        return test::waitForDaemonLog(home, line, seconds);
    }
    std::pair<bool, std::string> run(const std::vector<std::string>& command,
                                     const std::vector<std::string>& extra = {},
                                     double seconds = 10) const {
        RunOptions options;
        options.timeoutSeconds = seconds;
        const auto result = runProcess(desktop->asUser(command, extra), options);
        return {result && result->status.success(), result ? result->output : "(no answer)"};
    }
    // What the window holds, a terminal's pastes without their brackets.
    std::string received() const {
        std::string text = readFixture(record);
        for (const char* bracket : {"\x1b[200~", "\x1b[201~"}) {
            for (auto at = text.find(bracket); at != std::string::npos; at = text.find(bracket))
                text.erase(at, 6);
        }
        return text;
    }

    // The clipboard's plain text; "(nothing)" when there is none. On GNOME as an X11 program
    // reads it (mutter keeps the two in step, and wl-paste would take the focus for a moment).
    std::string clipboardText() const {
        if (!gnome) {
            const auto [ran, output] =
                run({"/usr/bin/wl-paste", "--no-newline", "--type", "text/plain"});
            return ran ? output : "(nothing)";
        }
        const std::string dump = desktop->userFolder("clipboard") + "/dump";
        std::filesystem::remove(dump);
        run({VAK_PASTE_TARGET, "--dump-clipboard", dump},
            {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"});
        const auto formats = test::dumpedFormats(readFixture(dump));
        return formats.contains("text/plain") ? formats.at("text/plain") : "(nothing)";
    }

    // `vak-dictate --add-shortcut` in the session's home, beside the user's own shortcut and
    // GNOME's daemon that runs custom shortcuts: it refuses chords GNOME or the user already
    // binds, and the chord it adds, pressed on the seat's keyboard, toggles a dictation.
    void gnomeShortcutDictates() {
        const std::string media = "org.gnome.settings-daemon.plugins.media-keys";
        const std::string users =
            "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
        const std::string custom = media + ".custom-keybinding:" + users;
        for (const auto& [schema, key, value] :
             {std::array<std::string, 3>{media, "custom-keybindings", "['" + users + "']"},
              {custom, "name", "'Terminal'"},
              {custom, "binding", "'<Control><Alt>t'"},
              {custom, "command", "'true'"}})
            ASSERT_TRUE(run({"/usr/bin/gsettings", "set", schema, key, value}).first) << key;
        ASSERT_TRUE(desktop->start({"/usr/libexec/gsd-media-keys"}));
        std::string sessionHome;
        for (const std::string& entry : desktop->environment())
            if (entry.starts_with("HOME=")) sessionHome = entry.substr(5);
        const std::pair<std::string, std::string> offers[] = {
            {"Super+Space", "⚠️ Super+Space is taken by GNOME's switch-input-source"},
            {"Ctrl+Alt+T", "⚠️ Ctrl+Alt+T is taken by the custom shortcut \"Terminal\""},
            {"Super+Alt+Space", "✓ Super+Alt+Space now starts and stops dictation"}};
        for (const auto& [chord, said] : offers) {
            std::filesystem::create_directories(sessionHome + "/.dictation");
            test::writeFixture(sessionHome + "/.dictation/config",
                               "SHORTCUT_CHORD=" + chord + "\n");
            desktop->giveToUser(sessionHome);
            // Again until it says so: the media-keys daemon may not own its name yet.
            bool added = false;
            const auto log = [&] { return readFixture(sessionHome + "/.dictation/vak.log"); };
            EXPECT_TRUE(waitUntil(
                [&, &said = said] {
                    added = run({VAK_BINARY, "--add-shortcut"}, {}, 60).first;
                    return log().find(said) != std::string::npos;
                },
                30))
                << log();
            EXPECT_EQ(added, chord == "Super+Alt+Space") << chord;
        }
        EXPECT_EQ(run({"/usr/bin/gsettings", "get", custom, "binding"}).second,
                  "'<Control><Alt>t'\n");
        const std::string before = received();
        test::say(home, "hello from the shortcut");
        const auto pressChord = [&] {
            return run({VAK_REMOTE_KEYS, "--keys", "+0xffeb", "+0xffe9", "0x20", "-0xffe9",
                        "-0xffeb"})
                .first;
        };
        ASSERT_TRUE(pressChord());
        ASSERT_TRUE(waitForLog("● recording… (session 2)")) << logText();
        test::speak(pulse);
        ASSERT_TRUE(pressChord());
        EXPECT_TRUE(waitUntil([&] { return received() == before + "Hello from the shortcut."; }))
            << readFixture(record) << logText();
    }

    test::PulseServer pulse;
    std::unique_ptr<test::HeadlessDesktop> desktop;
    bool gnome = false;
    std::string home;
    std::string record;
    std::shared_ptr<Subprocess> daemon;
    std::vector<std::shared_ptr<Subprocess>> children;
};

TEST_P(DesktopDaemon, TheTestPasteAndADictationArriveOnceOrStayOnTheClipboardSaidSo) {
    const DesktopCase& c = GetParam();
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const Row& row = c.rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i);
        closeRow(); // the last row's
        openRow(row, std::to_string(i));
        if (HasFatalFailure()) return;
        ASSERT_TRUE(startDaemon(row.listed)) << logText();
        ::kill(daemon->pid(), SIGUSR2);
        if (row.pasted()) {
            ASSERT_TRUE(waitUntil([&] { return received() == kMarker; }))
                << readFixture(record) << logText();
            EXPECT_TRUE(waitUntil([&] { return clipboardText() == "earlier"; }, 8))
                << clipboardText() << logText();
        } else {
            ASSERT_TRUE(
                waitForLog("⚠️ The paste cannot reach this window — your text is on the "
                           "clipboard: press Ctrl+V"))
                << logText();
            // Still there after the restore would have come, and nothing was typed.
            test::settle(2.0);
            EXPECT_EQ(clipboardText(), kMarker);
            EXPECT_FALSE(std::filesystem::exists(record)) << readFixture(record);
        }
        auto lines = i == 0 ? c.backEnds : std::vector<std::string>{};
        lines.push_back(row.logLine);
        for (const std::string& line : lines)
            EXPECT_TRUE(waitForLog(line)) << line << "\n" << logText();
        if (i > 0) continue;
        // A dictation (SIGUSR1, speech, then --toggle); the first, so the first-run note comes
        // after it and must leave the focus where it was for the next paste.
        std::filesystem::remove(home + "/.dictation/.explained");
        test::say(home, "hello from the desktop test");
        ::kill(daemon->pid(), SIGUSR1);
        ASSERT_TRUE(waitForLog("● recording… (session 1)")) << logText();
        test::speak(pulse);
        const auto [toggled, output] =
            run({VAK_BINARY, "--toggle"}, test::daemonEnvironment(home, pulse));
        ASSERT_TRUE(toggled) << output;
        const std::string both = std::string(kMarker) + "Hello from the desktop test.";
        ASSERT_TRUE(waitUntil([&] { return received() == both; }))
            << readFixture(record) << logText();
        ASSERT_TRUE(
            waitUntil([&] { return std::filesystem::exists(home + "/.dictation/.explained"); }));
        test::settle(2.0);
        ::kill(daemon->pid(), SIGUSR2);
        EXPECT_TRUE(waitUntil([&] { return received() == both + kMarker; }))
            << readFixture(record) << logText();
        if (gnome) gnomeShortcutDictates();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Backends, DesktopDaemon,
    testing::Values(
        DesktopCase{"Sway",
                    Compositor::Sway,
                    {"synthetic paste and copy: wtype", "clipboard: data control",
                     "frontmost application: sway's IPC", "floating panels: sway rules",
                     "waiting for keyboard access — trigger key DISARMED until granted"},
                    {{Window::Terminal, true, kFront + "foot"}}},
        DesktopCase{"Gnome",
                    Compositor::Gnome,
                    {"synthetic paste and copy: mutter's remote-desktop keyboard",
                     "frontmost application: the accessibility bus (AT-SPI)"},
                    {{Window::Qt, true, kFront + "paste-target"},
                     {Window::Gtk, true, kFront + "vak-gtk-target"},
                     {Window::Terminal, true, kFront + "qterminal"},
                     {Window::Qt, false, kXTest}}},
        DesktopCase{"Kwin",
                    Compositor::Kwin,
                    {"synthetic paste and copy: KWin's fake-input keyboard",
                     "frontmost application: a KWin script"},
                    {{Window::Qt, true, kFront + "vak-paste-target"},
                     {Window::QtThroughXWayland, true, kFront + "paste-target"},
                     {Window::Gtk, true, kFront + "vak-gtk-target"},
                     {Window::Terminal, true, kFront + "qterminal"},
                     {Window::QtThroughXWayland, false, kXTest},
                     {Window::Qt, false,
                      "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input: install the package"}}}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace vak
