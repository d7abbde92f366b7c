// The daemon end to end on GNOME and KDE Plasma: a private headless gnome-shell or KWin
// (support/headless_desktop.h) with a window holding the focus (a Qt one recording what it
// receives, native or through XWayland, a GTK text view or editor, or a native terminal recording
// every byte), the daemon run as the session's user with a private PulseAudio server and the fake
// whisper-cli. On GNOME the daemon types through mutter's remote-desktop keyboard and names the
// window through the accessibility bus; on KWin through its fake input, which its desktop entry
// lets it use, and names it through a KWin script. Without those (no session bus on GNOME, a
// daemon no desktop entry names on KWin) only XTest through XWayland is left, which cannot reach a
// native window, so the text must stay on the clipboard and the log must say so. Each case starts
// its own desktop, so a case also checks the desktop's own shortcut where its window allows.
#include "e2e/daemon_fixture.h"
#include "support/headless_desktop.h"
#include "support/wait.h"

#include <array>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <utility>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::Compositor;
using test::readFixture;
using test::waitUntil;
using test::writeFixture;

enum class Window { Qt, QtThroughXWayland, Gtk, Terminal };

struct DesktopCase {
    const char* name;
    Compositor desktop;
    bool listed; // with the session bus (GNOME), run from the path its desktop entry names (KWin)
    Window window;
    bool pasted;
    std::vector<std::string> logLines;
    bool shortcut = false; // the desktop's own shortcut starts a dictation too
};

void PrintTo(const DesktopCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr const char* kMediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:";
constexpr const char* kFolder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";

class DesktopDaemon : public testing::TestWithParam<DesktopCase> {
  protected:
    static void SetUpTestSuite() {
        pulse = new test::PulseServer();
        if (pulse->running()) {
            const auto folder =
                std::filesystem::path(pulse->serverAddress().substr(5)).parent_path();
            ::chmod(folder.c_str(), 0755);
        }
    }
    static void TearDownTestSuite() {
        delete desktop;
        desktop = nullptr;
        delete pulse;
    }

    void SetUp() override {
        const DesktopCase& c = GetParam();
        kwin = c.desktop == Compositor::Kwin;
        // Under ctest every case is a program of its own, with a desktop of its own.
        if (desktop != nullptr && kind != c.desktop) delete std::exchange(desktop, nullptr);
        if (desktop == nullptr) desktop = new test::HeadlessDesktop(kind = c.desktop);
        if (!desktop->running()) GTEST_SKIP() << "no headless desktop: " << desktop->why();
        if (!pulse->running()) GTEST_SKIP() << "no private sound server: " << pulse->why();
        home = desktop->userFolder(std::string("home-") + c.name);
        test::prepareDaemonHome(home);
        desktop->giveToUser(home);
        const std::string folder = desktop->userFolder(std::string("target-") + c.name);
        record = folder + "/record";
        const std::string ready = folder + "/ready";
        // The user's earlier copy: on KWin through data control (wl-copy), as KWin hands the
        // Wayland clipboard an X11 program's copy only while an X11 window has the focus; on
        // GNOME in an X11 program (Qt's Wayland clipboard takes no write from a program that has
        // had no input yet).
        const std::string owned = folder + "/owned";
        ASSERT_TRUE(kwin ? start({"/usr/bin/wl-copy", "--foreground", "earlier"})
                         : start({VAK_PASTE_TARGET, "--hidden", "--ready", owned, "--clipboard",
                                  "text/plain", "earlier"},
                                 {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"}));
        // Long: on GNOME the first X11 program starts XWayland, which a busy machine takes its
        // time over.
        ASSERT_TRUE(waitUntil(
            [&] { return std::filesystem::exists(owned) || clipboardText() == "earlier"; }, 60));
        std::vector<std::string> command;
        std::vector<std::string> extra;
        std::string up = ready; // the file that says the window is there
        if (c.window == Window::Gtk && kwin) {
            // A GTK text view, native on Wayland, that records all it holds on every change.
            command = {"/usr/bin/python3", VAK_GTK_TARGET, "--record", record, "--ready", ready};
            extra = {"GDK_BACKEND=wayland"};
        } else if (c.window == Window::Gtk) {
            // A GTK editor, native on Wayland; what it holds is read by saving it.
            writeFixture(record, "");
            desktop->giveToUser(folder);
            command = {"/usr/bin/mousepad", record};
            extra = {"GDK_BACKEND=wayland", "XDG_CONFIG_HOME=" + folder};
            up.clear();
        } else if (c.window == Window::Terminal) {
            // QTerminal, native on Wayland (foot 1.13 stops with a division by zero on KWin's
            // virtual output), running a program that records every byte it reads; the record
            // appears once bracketed paste is on.
            command = {"/usr/bin/qterminal", "-e", std::string(VAK_TTY_RECORD) + " " + record};
            extra = {"QT_QPA_PLATFORM=wayland", "XDG_CONFIG_HOME=" + folder,
                     "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"};
            up = record;
        } else {
            // A Qt window (taking part in accessibility as GNOME's own programs do) with the
            // keyboard focus, which writes all it holds to the record on every change.
            command = {VAK_PASTE_TARGET, "--record", record, "--ready", ready};
            extra = {c.window == Window::Qt ? "QT_QPA_PLATFORM=wayland" : "QT_QPA_PLATFORM=xcb",
                     "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "ASAN_OPTIONS=detect_leaks=0"};
        }
        ASSERT_TRUE(start(command, extra));
        if (up.empty()) {
            test::settle(5.0); // up, with the focus
        } else {
            ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(up); }, 30));
        }
    }

    void TearDown() override {
        test::stopDaemon(daemon);
        for (const auto& child : children) {
            child->terminate();
            child->wait();
        }
    }

    // Starts `command` as the session's user, stopped at the test's end.
    bool start(const std::vector<std::string>& command,
               const std::vector<std::string>& extra = {}) {
        SpawnOptions options;
        options.argv = desktop->asUser(command, extra);
        auto child = Subprocess::spawn(options);
        if (child) children.push_back(child);
        return child != nullptr;
    }

    std::vector<std::string> environment() const { return test::daemonEnvironment(home, *pulse); }
    bool startDaemon(bool listed) {
        SpawnOptions options;
        options.argv = !listed && kwin ? desktop->asUser({desktop->unlistedDaemon()}, environment())
                       : listed        ? desktop->asUser({VAK_BINARY}, environment())
                                       : desktop->asUserWithoutBus({VAK_BINARY}, environment());
        daemon = Subprocess::spawn(options);
        return daemon && test::waitForDaemonLog(home, "▶ Brindle v8.28", 40);
    }
    std::string logText() const { return test::daemonLog(home); }
    // `command` as the session's user, to its end: whether it succeeded, and its output.
    static std::pair<bool, std::string> run(const std::vector<std::string>& command,
                                            const std::vector<std::string>& extra = {},
                                            double seconds = 10) {
        RunOptions options;
        options.timeoutSeconds = seconds;
        const auto result = runProcess(desktop->asUser(command, extra), options);
        return {result && result->status.success(), result ? result->output : "(no answer)"};
    }
    // What the window holds (the editor saved first, with Ctrl+S; a terminal's pastes without
    // their brackets, which say they came as pastes).
    std::string received() const {
        if (GetParam().window == Window::Gtk && !kwin)
            run({VAK_REMOTE_KEYS, "--keys", "+0xffe3", "0x73", "-0xffe3"});
        std::string text = readFixture(record);
        for (const char* bracket : {"\x1b[200~", "\x1b[201~"}) {
            for (auto at = text.find(bracket); at != std::string::npos; at = text.find(bracket))
                text.erase(at, 6);
        }
        return text;
    }

    // The clipboard's plain text; "(nothing)" when there is none. On KWin as wl-paste reads it
    // through data control (KWin hands XWayland the Wayland clipboard only while an X11 window
    // has the focus); on GNOME as an X11 program on XWayland reads it (mutter keeps the two in
    // step, and wl-paste would take the focus for a moment).
    std::string clipboardText() const {
        if (kwin) {
            RunOptions options;
            options.timeoutSeconds = 10;
            const auto result = runProcess(
                desktop->asUser({"/usr/bin/wl-paste", "--no-newline", "--type", "text/plain"}),
                options);
            if (!result) return "(no answer)";
            return result->status.success() ? result->output : "(nothing)";
        }
        const std::string dump = "/tmp/vak-desktop-clipboard-" + std::to_string(::getpid());
        const auto [ran, output] = run({VAK_PASTE_TARGET, "--dump-clipboard", dump},
                                       {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"});
        std::istringstream lines(readFixture(dump));
        std::filesystem::remove(dump);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("text/plain\t")) continue;
            std::string text;
            for (std::size_t i = line.find('\t') + 1; i + 1 < line.size(); i += 2)
                text += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
            return text;
        }
        return ran ? "(nothing)" : "(no answer)";
    }

    void gnomeShortcutBeside();
    void gnomeShortcutDictates();
    void kdePortalDictates();

    static inline test::HeadlessDesktop* desktop = nullptr;
    static inline Compositor kind = Compositor::Sway;
    static inline test::PulseServer* pulse = nullptr;
    bool kwin = false;
    std::string home;
    std::string record;
    std::shared_ptr<Subprocess> daemon;
    std::vector<std::shared_ptr<Subprocess>> children;
};

// The user's own GNOME shortcut, which must survive ours, and GNOME's daemon that runs custom
// shortcuts, as a GNOME session starts it.
void DesktopDaemon::gnomeShortcutBeside() {
    const std::string users = std::string(kFolder) + "custom0/";
    for (const auto& [schema, key, value] : std::vector<std::array<std::string, 3>>{
             {kCustom + users, "name", "'Terminal'"},
             {kCustom + users, "binding", "'<Control><Alt>t'"},
             {kCustom + users, "command", "'true'"},
             {kMediaKeys, "custom-keybindings", "['" + users + "']"}}) {
        ASSERT_TRUE(run({"/usr/bin/gsettings", "set", schema, key, value}).first) << key;
    }
    ASSERT_TRUE(desktop->start({"/usr/libexec/gsd-media-keys"}));
    ASSERT_TRUE(waitUntil(
        [&] {
            return run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                        "--object-path", "/org/freedesktop/DBus", "--method",
                        "org.freedesktop.DBus.NameHasOwner", "org.gnome.SettingsDaemon.MediaKeys"},
                       {}, 5)
                       .second.find("true") != std::string::npos;
        },
        30));
}

// `vak-dictate --add-shortcut` (in the session's own home) refuses a chord GNOME itself binds and
// adds the default once; the chord, pressed on the seat's keyboard, starts a dictation and then
// stops it.
void DesktopDaemon::gnomeShortcutDictates() {
    EXPECT_TRUE(test::waitForDaemonLog(
        home, "· the trigger key can be a GNOME shortcut instead: Settings ▸ Add shortcut: "
              "Super+Alt+Space"))
        << logText();
    std::string sessionHome;
    for (const std::string& entry : desktop->environment()) {
        if (entry.starts_with("HOME=")) sessionHome = entry.substr(5);
    }
    struct Offer {
        const char* chord;
        int status;
        const char* logLine;
    };
    for (const Offer& offer :
         {Offer{"Super+Space", 1,
                "⚠️ Super+Space is taken by GNOME's switch-input-source "
                "(org.gnome.desktop.wm.keybindings)"},
          Offer{"Ctrl+Alt+T", 1, "is taken by the custom shortcut \"Terminal\""},
          Offer{"Super+Alt+Space", 0,
                "✓ Super+Alt+Space now starts and stops dictation (a GNOME shortcut)"},
          Offer{"super+alt+space", 0, "✓ Super+Alt+Space already starts and stops"}}) {
        std::filesystem::create_directories(sessionHome + "/.dictation");
        writeFixture(sessionHome + "/.dictation/config",
                     "SHORTCUT_CHORD=" + std::string(offer.chord) + "\n");
        std::filesystem::remove(sessionHome + "/.dictation/vak.log");
        desktop->giveToUser(sessionHome);
        RunOptions options;
        options.timeoutSeconds = 60;
        const auto added = runProcess(
            desktop->asUser({VAK_BINARY, "--add-shortcut"}, {"ASAN_OPTIONS=detect_leaks=0"}),
            options);
        const std::string log = readFixture(sessionHome + "/.dictation/vak.log");
        EXPECT_EQ(added && added->status.exited() ? added->status.code : -1, offer.status)
            << offer.chord << "\n"
            << log;
        EXPECT_NE(log.find(offer.logLine), std::string::npos) << offer.chord << "\n" << log;
    }
    const std::string users = std::string(kFolder) + "custom0/";
    const std::string ours = std::string(kFolder) + "vak-dictate-toggle/";
    const auto value = [](const std::string& schema, const std::string& key) {
        return run({"/usr/bin/gsettings", "get", schema, key}).second;
    };
    EXPECT_EQ(value(kMediaKeys, "custom-keybindings"), "['" + users + "', '" + ours + "']\n");
    EXPECT_EQ(value(kCustom + users, "binding"), "'<Control><Alt>t'\n");
    EXPECT_EQ(value(kCustom + ours, "binding"), "'<Super><Alt>space'\n");
    EXPECT_EQ(value(kCustom + ours, "command"), "'" + std::string(VAK_BINARY) + " --toggle'\n");

    const std::string before = received();
    test::say(home, "hello from the shortcut");
    const auto pressChord = [] {
        return run({VAK_REMOTE_KEYS, "--keys", "+0xffeb", "+0xffe9", "0x20", "-0xffe9", "-0xffeb"})
            .first;
    };
    ASSERT_TRUE(pressChord());
    ASSERT_TRUE(test::waitForDaemonLog(home, "● recording… (session 2)")) << logText();
    test::speak(*pulse);
    ASSERT_TRUE(pressChord());
    EXPECT_TRUE(waitUntil([&] { return received() == before + "Hello from the shortcut."; }))
        << readFixture(record) << logText();
    EXPECT_NE(logText().find("· control: toggle"), std::string::npos) << logText();
}

// KDE Plasma without /dev/input: the desktop's GlobalShortcuts portal holds the trigger's
// shortcuts in KWin's global-shortcut service. This KWin has no keyboard to press them with, so
// the service presses the dictation shortcut itself, as a held key: held past HOLD_SECONDS, it
// records.
void DesktopDaemon::kdePortalDictates() {
    ASSERT_TRUE(test::waitForDaemonLog(home,
                                       "· key monitor: the GlobalShortcuts portal (version 1): "
                                       "dictation=Meta+Alt+Space, command=Meta+Alt+Shift+Space",
                                       30))
        << logText();
    ASSERT_TRUE(run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.kde.kglobalaccel",
                     "--object-path", "/component/vak_dictate", "--method",
                     "org.kde.kglobalaccel.Component.invokeShortcut", "dictation"},
                    {}, 15)
                    .first);
    EXPECT_TRUE(test::waitForDaemonLog(home, "● recording… (session 2)")) << logText();
}

TEST_P(DesktopDaemon, TheTestPasteAndADictationArriveOnceOrStayOnTheClipboardSaidSo) {
    const DesktopCase& c = GetParam();
    if (c.shortcut && !kwin) gnomeShortcutBeside();
    ASSERT_TRUE(startDaemon(c.listed)) << logText();
    ::kill(daemon->pid(), SIGUSR2);
    if (c.pasted) {
        ASSERT_TRUE(waitUntil([&] { return received() == "VAK_TEST_INSERT_OK"; }))
            << readFixture(record) << logText();
        // The user's copy comes back after the paste.
        EXPECT_TRUE(waitUntil([&] { return clipboardText() == "earlier"; }, 8))
            << clipboardText() << logText();
        // A dictation (SIGUSR1, speech, then --toggle) follows it, the pill leaving the focus
        // with the window; it is the first, so the first-run note comes after it.
        std::filesystem::remove(home + "/.dictation/.explained");
        test::say(home, "hello from the desktop test");
        ::kill(daemon->pid(), SIGUSR1);
        ASSERT_TRUE(test::waitForDaemonLog(home, "● recording… (session 1)")) << logText();
        test::speak(*pulse);
        const auto [toggled, output] = run({VAK_BINARY, "--toggle"}, environment());
        ASSERT_TRUE(toggled) << output;
        const std::string both = "VAK_TEST_INSERT_OKHello from the desktop test.";
        ASSERT_TRUE(waitUntil([&] { return received() == both; }))
            << readFixture(record) << logText();
        // The note leaves the focus where it was: the next paste goes to the window too.
        ASSERT_TRUE(
            waitUntil([&] { return std::filesystem::exists(home + "/.dictation/.explained"); }));
        test::settle(2.0);
        ::kill(daemon->pid(), SIGUSR2);
        EXPECT_TRUE(waitUntil([&] { return received() == both + "VAK_TEST_INSERT_OK"; }))
            << readFixture(record) << logText();
    } else {
        ASSERT_TRUE(test::waitForDaemonLog(home, "⌨︎ simulated insert (SIGUSR2)")) << logText();
        EXPECT_TRUE(waitUntil([&] { return clipboardText() == "VAK_TEST_INSERT_OK"; }, 8))
            << clipboardText();
        // Still there after the restore would have come, and nothing was typed.
        test::settle(2.0);
        EXPECT_EQ(clipboardText(), "VAK_TEST_INSERT_OK");
        EXPECT_FALSE(std::filesystem::exists(record)) << readFixture(record);
    }
    for (const std::string& line : c.logLines)
        EXPECT_NE(logText().find(line), std::string::npos) << line << "\n" << logText();
    if (c.shortcut) kwin ? kdePortalDictates() : gnomeShortcutDictates();
}

const std::string kCannotReach =
    "⚠️ The paste cannot reach this window — your text is on the clipboard: press Ctrl+V";
const std::string kFront = "⌨︎ simulated insert (SIGUSR2) — front application: ";

INSTANTIATE_TEST_SUITE_P(
    Backends, DesktopDaemon,
    testing::Values(
        DesktopCase{"MuttersKeyboardIntoQt",
                    Compositor::Gnome,
                    true,
                    Window::Qt,
                    true,
                    {"synthetic paste and copy: mutter's remote-desktop keyboard",
                     "frontmost application: the accessibility bus (AT-SPI)",
                     kFront + "paste-target"},
                    true},
        DesktopCase{"MuttersKeyboardIntoGtk",
                    Compositor::Gnome,
                    true,
                    Window::Gtk,
                    true,
                    {kFront + "mousepad"}},
        DesktopCase{"MuttersKeyboardIntoANativeTerminal",
                    Compositor::Gnome,
                    true,
                    Window::Terminal,
                    true,
                    {kFront + "qterminal"}},
        DesktopCase{"NoBackendReachesTheWindow",
                    Compositor::Gnome,
                    false,
                    Window::Qt,
                    false,
                    {"synthetic paste and copy: XTest through XWayland", kCannotReach}},
        DesktopCase{"FakeInputIntoQt",
                    Compositor::Kwin,
                    true,
                    Window::Qt,
                    true,
                    {"synthetic paste and copy: KWin's fake-input keyboard",
                     "frontmost application: a KWin script", kFront + "vak-paste-target"},
                    true},
        DesktopCase{"FakeInputIntoX11",
                    Compositor::Kwin,
                    true,
                    Window::QtThroughXWayland,
                    true,
                    {kFront + "paste-target"}},
        DesktopCase{"FakeInputIntoGtk",
                    Compositor::Kwin,
                    true,
                    Window::Gtk,
                    true,
                    {kFront + "vak-gtk-target"}},
        DesktopCase{"FakeInputIntoANativeTerminal",
                    Compositor::Kwin,
                    true,
                    Window::Terminal,
                    true,
                    {kFront + "qterminal"}},
        DesktopCase{"UnlistedDaemonThroughXTestIntoX11",
                    Compositor::Kwin,
                    false,
                    Window::QtThroughXWayland,
                    true,
                    {"synthetic paste and copy: XTest through XWayland"}},
        DesktopCase{"UnlistedDaemonCannotReachTheWindow",
                    Compositor::Kwin,
                    false,
                    Window::Qt,
                    false,
                    {"X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input: install the package",
                     kCannotReach}}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace vak
