// The daemon end to end on GNOME and KDE Plasma: a private headless gnome-shell or KWin
// (support/headless_gnome.h, headless_kwin.h) with a window holding the focus (a Qt one recording
// what it receives, native or through XWayland, GTK's Mousepad, saved to read what it holds, or a
// native terminal recording every byte), the daemon run as the session's user with a private
// PulseAudio server and the fake whisper-cli. On GNOME the daemon types through mutter's
// remote-desktop keyboard and names the window through the accessibility bus; on KWin through
// its fake input, which its desktop entry lets it use, and names it through a KWin script.
// Without those (no session bus on GNOME, a daemon no desktop entry names on KWin) only XTest
// through XWayland is left, which cannot reach a native window, so the text must stay on the
// clipboard and the log must say so.
#include "e2e/daemon_fixture.h"
#include "support/headless_gnome.h"
#include "support/headless_kwin.h"
#include "support/wait.h"

#include <csignal>
#include <filesystem>
#include <sstream>
#include <type_traits>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::waitUntil;
using test::writeFixture;

enum class Window { Qt, QtThroughXWayland, Gtk, Terminal };

struct DesktopCase {
    const char* name;
    bool listed; // with the session bus (GNOME), run from the path its desktop entry names (KWin)
    Window window;
    bool pasted;
    std::vector<std::string> logLines;
};

void PrintTo(const DesktopCase& c, std::ostream* out) {
    *out << c.name;
}

template <typename Desktop>
class DesktopDaemon : public testing::TestWithParam<DesktopCase> {
  protected:
    static void SetUpTestSuite() {
        pulse = new test::PulseServer();
        desktop = new Desktop();
        if (pulse->running()) {
            const auto folder =
                std::filesystem::path(pulse->serverAddress().substr(5)).parent_path();
            ::chmod(folder.c_str(), 0755);
        }
    }
    static void TearDownTestSuite() {
        delete desktop;
        delete pulse;
    }

    void SetUp() override {
        if (!desktop->running()) GTEST_SKIP() << "no headless desktop: " << desktop->why();
        if (!pulse->running()) GTEST_SKIP() << "no private sound server: " << pulse->why();
        home = desktop->userFolder(std::string("home-") + GetParam().name);
        test::prepareDaemonHome(home);
        desktop->giveToUser(home);
        const std::string folder = desktop->userFolder(std::string("target-") + GetParam().name);
        record = folder + "/record";
        const std::string ready = folder + "/ready";
        // The user's earlier copy: on KWin through data control (wl-copy), as KWin hands the
        // Wayland clipboard an X11 program's copy only while an X11 window has the focus; on
        // GNOME in an X11 program (Qt's Wayland clipboard takes no write from a program that has
        // had no input yet).
        const std::string owned = folder + "/owned";
        SpawnOptions owner;
        if constexpr (std::is_same_v<Desktop, test::HeadlessKwin>) {
            owner.argv = desktop->asUser({"/usr/bin/wl-copy", "--foreground", "earlier"});
        } else {
            owner.argv = desktop->asUser({VAK_PASTE_TARGET, "--hidden", "--ready", owned,
                                          "--clipboard", "text/plain", "earlier"},
                                         {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"});
        }
        owner_ = Subprocess::spawn(owner);
        ASSERT_TRUE(owner_);
        // Long: on GNOME the first X11 program starts XWayland, which a busy machine takes its time
        // over.
        ASSERT_TRUE(waitUntil(
            [&] { return std::filesystem::exists(owned) || clipboardText() == "earlier"; }, 60));
        if constexpr (std::is_same_v<Desktop, test::HeadlessKwin>) {
            if (GetParam().window == Window::Gtk) {
                // A GTK text view, native on Wayland, that records all it holds on every change.
                SpawnOptions gtk;
                gtk.argv = desktop->asUser(
                    {"/usr/bin/python3", VAK_GTK_TARGET, "--record", record, "--ready", ready},
                    {"GDK_BACKEND=wayland"});
                target_ = Subprocess::spawn(gtk);
                ASSERT_TRUE(target_);
                ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(ready); }, 30));
                return;
            }
        }
        if (GetParam().window == Window::Gtk) {
            // A GTK editor, native on Wayland; what it holds is read by saving it.
            writeFixture(record, "");
            desktop->giveToUser(folder);
            SpawnOptions editor;
            editor.argv = desktop->asUser({"/usr/bin/mousepad", record},
                                          {"GDK_BACKEND=wayland", "XDG_CONFIG_HOME=" + folder});
            target_ = Subprocess::spawn(editor);
            ASSERT_TRUE(target_);
            test::settle(5.0); // up, with the focus
            return;
        }
        if (GetParam().window == Window::Terminal) {
            // QTerminal, native on Wayland (foot 1.13 stops with a division by zero on KWin's
            // virtual output), running a program that records every byte it reads; the record
            // appears once bracketed paste is on.
            SpawnOptions terminal;
            terminal.argv = desktop->asUser(
                {"/usr/bin/qterminal", "-e", std::string(VAK_TTY_RECORD) + " " + record},
                {"QT_QPA_PLATFORM=wayland", "XDG_CONFIG_HOME=" + folder,
                 "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
            target_ = Subprocess::spawn(terminal);
            ASSERT_TRUE(target_);
            ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(record); }, 30));
            return;
        }
        // A Qt window (taking part in accessibility as GNOME's own programs do) with the keyboard
        // focus, which writes all it holds to the record on every change.
        const bool native = GetParam().window == Window::Qt;
        SpawnOptions target;
        target.argv =
            desktop->asUser({VAK_PASTE_TARGET, "--record", record, "--ready", ready},
                            {native ? "QT_QPA_PLATFORM=wayland" : "QT_QPA_PLATFORM=xcb",
                             "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "ASAN_OPTIONS=detect_leaks=0"});
        target_ = Subprocess::spawn(target);
        ASSERT_TRUE(target_);
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(ready); }, 30));
    }

    void TearDown() override {
        test::stopDaemon(daemon);
        for (const auto& child : {target_, owner_}) {
            if (!child) continue;
            child->terminate();
            child->wait();
        }
    }

    std::vector<std::string> environment() const {
        return {"HOME=" + home, "VAK_TOOL_PATH=" + home + "/tools",
                "VAK_TMPDIR=" + home + "/scratch", "PULSE_SERVER=" + pulse->serverAddress(),
                "ASAN_OPTIONS=detect_leaks=0:strict_string_checks=0"};
    }
    bool startDaemon(bool listed) {
        SpawnOptions options;
        if constexpr (std::is_same_v<Desktop, test::HeadlessKwin>) {
            options.argv =
                desktop->asUser({listed ? VAK_BINARY : desktop->unlistedDaemon()}, environment());
        } else {
            options.argv = listed ? desktop->asUser({VAK_BINARY}, environment())
                                  : desktop->asUserWithoutBus({VAK_BINARY}, environment());
        }
        daemon = Subprocess::spawn(options);
        return daemon && test::waitForDaemonLog(home, "▶ Brindle v8.28", 40);
    }
    std::string logText() const { return test::daemonLog(home); }
    // What the window holds (the editor saved first, with Ctrl+S; a terminal's pastes without
    // their brackets, which say they came as pastes).
    std::string received() const {
        if constexpr (std::is_same_v<Desktop, test::HeadlessGnome>) {
            if (GetParam().window == Window::Gtk) {
                RunOptions options;
                options.timeoutSeconds = 10;
                runProcess(
                    desktop->asUser({VAK_REMOTE_KEYS, "--keys", "+0xffe3", "0x73", "-0xffe3"}),
                    options);
            }
        }
        std::string text = readFixture(record);
        if (GetParam().window != Window::Terminal) return text;
        std::string unbracketed;
        for (std::size_t at = 0; at < text.size();) {
            if (text.compare(at, 6, "\x1b[200~") == 0 || text.compare(at, 6, "\x1b[201~") == 0) {
                at += 6;
            } else {
                unbracketed += text[at++];
            }
        }
        return unbracketed;
    }

    // The clipboard's plain text; "(nothing)" when there is none. On KWin as wl-paste reads it
    // through data control (KWin hands XWayland the Wayland clipboard only while an X11 window
    // has the focus); on GNOME as an X11 program on XWayland reads it (mutter keeps the two in
    // step, and wl-paste would take the focus for a moment).
    static std::string clipboardText() {
        if constexpr (std::is_same_v<Desktop, test::HeadlessKwin>) {
            RunOptions options;
            options.timeoutSeconds = 10;
            const auto result = runProcess(
                desktop->asUser({"/usr/bin/wl-paste", "--no-newline", "--type", "text/plain"}),
                options);
            if (!result) return "(no answer)";
            return result->status.success() ? result->output : "(nothing)";
        }
        const std::string dump = "/tmp/vak-desktop-clipboard-" + std::to_string(::getpid());
        RunOptions options;
        options.timeoutSeconds = 10;
        const auto result =
            runProcess(desktop->asUser({VAK_PASTE_TARGET, "--dump-clipboard", dump},
                                       {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"}),
                       options);
        std::istringstream lines(readFixture(dump));
        std::filesystem::remove(dump);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("text/plain\t", 0) != 0) continue;
            std::string text;
            for (std::size_t i = line.find('\t') + 1; i + 1 < line.size(); i += 2)
                text += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
            return text;
        }
        return result ? "(nothing)" : "(no answer)";
    }

    void pastesOnceOrLeavesTheClipboard();

    static Desktop* desktop;
    static test::PulseServer* pulse;
    std::string home;
    std::string record;
    std::shared_ptr<Subprocess> target_;
    std::shared_ptr<Subprocess> owner_;
    std::shared_ptr<Subprocess> daemon;
};

template <typename Desktop>
Desktop* DesktopDaemon<Desktop>::desktop = nullptr;
template <typename Desktop>
test::PulseServer* DesktopDaemon<Desktop>::pulse = nullptr;

template <typename Desktop>
void DesktopDaemon<Desktop>::pastesOnceOrLeavesTheClipboard() {
    const DesktopCase& c = GetParam();
    ASSERT_TRUE(startDaemon(c.listed)) << logText();
    ::kill(daemon->pid(), SIGUSR2);
    if (c.pasted) {
        ASSERT_TRUE(waitUntil([&] { return received() == "VAK_TEST_INSERT_OK"; }))
            << readFixture(record) << logText();
        // The user's copy comes back after the paste.
        EXPECT_TRUE(waitUntil([] { return clipboardText() == "earlier"; }, 8))
            << clipboardText() << logText();
        // A dictation (SIGUSR1, speech, then --toggle) follows it, the pill leaving the focus
        // with the window; it is the first, so the first-run note comes after it.
        std::filesystem::remove(home + "/.dictation/.explained");
        test::say(home, "hello from the desktop test");
        ::kill(daemon->pid(), SIGUSR1);
        ASSERT_TRUE(test::waitForDaemonLog(home, "● recording… (session 1)")) << logText();
        test::speak(*pulse);
        RunOptions control;
        control.timeoutSeconds = 10;
        const auto toggled =
            runProcess(desktop->asUser({VAK_BINARY, "--toggle"}, environment()), control);
        ASSERT_TRUE(toggled && toggled->status.success()) << (toggled ? toggled->output : "");
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
        EXPECT_TRUE(waitUntil([] { return clipboardText() == "VAK_TEST_INSERT_OK"; }, 8))
            << clipboardText();
        // Still there after the restore would have come, and nothing was typed.
        test::settle(2.0);
        EXPECT_EQ(clipboardText(), "VAK_TEST_INSERT_OK");
        EXPECT_FALSE(std::filesystem::exists(record)) << readFixture(record);
    }
    for (const std::string& line : c.logLines)
        EXPECT_NE(logText().find(line), std::string::npos) << line << "\n" << logText();
}

using GnomeDaemon = DesktopDaemon<test::HeadlessGnome>;
using KwinDaemon = DesktopDaemon<test::HeadlessKwin>;

TEST_P(GnomeDaemon, TheTestPasteAndADictationArriveOnceOrStayOnTheClipboardSaidSo) {
    pastesOnceOrLeavesTheClipboard();
}
TEST_P(KwinDaemon, TheTestPasteAndADictationArriveOnceOrStayOnTheClipboardSaidSo) {
    pastesOnceOrLeavesTheClipboard();
}

const std::string kCannotReach =
    "⚠️ The paste cannot reach this window — your text is on the clipboard: press Ctrl+V";

INSTANTIATE_TEST_SUITE_P(
    Backends, GnomeDaemon,
    testing::Values(
        DesktopCase{"MuttersKeyboardIntoQt",
                    true,
                    Window::Qt,
                    true,
                    {"synthetic paste and copy: mutter's remote-desktop keyboard",
                     "frontmost application: the accessibility bus (AT-SPI)",
                     "⌨︎ simulated insert (SIGUSR2) — front application: paste-target"}},
        DesktopCase{"MuttersKeyboardIntoGtk",
                    true,
                    Window::Gtk,
                    true,
                    {"⌨︎ simulated insert (SIGUSR2) — front application: mousepad"}},
        DesktopCase{"MuttersKeyboardIntoANativeTerminal",
                    true,
                    Window::Terminal,
                    true,
                    {"⌨︎ simulated insert (SIGUSR2) — front application: qterminal"}},
        DesktopCase{"NoBackendReachesTheWindow",
                    false,
                    Window::Qt,
                    false,
                    {"synthetic paste and copy: XTest through XWayland", kCannotReach}}),
    [](const auto& test) { return std::string(test.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Backends, KwinDaemon,
    testing::Values(
        DesktopCase{"FakeInputIntoQt",
                    true,
                    Window::Qt,
                    true,
                    {"synthetic paste and copy: KWin's fake-input keyboard",
                     "frontmost application: a KWin script",
                     "⌨︎ simulated insert (SIGUSR2) — front application: vak-paste-target"}},
        DesktopCase{"FakeInputIntoX11",
                    true,
                    Window::QtThroughXWayland,
                    true,
                    {"⌨︎ simulated insert (SIGUSR2) — front application: paste-target"}},
        DesktopCase{"FakeInputIntoGtk",
                    true,
                    Window::Gtk,
                    true,
                    {"⌨︎ simulated insert (SIGUSR2) — front application: vak-gtk-target"}},
        DesktopCase{"FakeInputIntoANativeTerminal",
                    true,
                    Window::Terminal,
                    true,
                    {"⌨︎ simulated insert (SIGUSR2) — front application: qterminal"}},
        DesktopCase{"UnlistedDaemonThroughXTestIntoX11",
                    false,
                    Window::QtThroughXWayland,
                    true,
                    {"synthetic paste and copy: XTest through XWayland"}},
        DesktopCase{"UnlistedDaemonCannotReachTheWindow",
                    false,
                    Window::Qt,
                    false,
                    {"X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input: install the package",
                     kCannotReach}}),
    [](const auto& test) { return std::string(test.param.name); });

// What gsettings prints for `key` of `schema`, as the session's user (whose settings database the
// desktop's daemons read).
std::string gsettingsValue(const test::HeadlessGnome& gnome, const std::string& schema,
                           const std::string& key) {
    RunOptions options;
    options.timeoutSeconds = 10;
    const auto result =
        runProcess(gnome.asUser({"/usr/bin/gsettings", "get", schema, key}), options);
    return result && result->status.success() ? result->output : "(no answer)";
}

// `vak-dictate --add-shortcut` as the session's user in its own home, with `chord`: its exit
// status and log line.
std::pair<int, std::string> addShortcut(const test::HeadlessGnome& gnome,
                                        const std::string& chord) {
    std::string home;
    for (const std::string& entry : gnome.environment()) {
        if (entry.rfind("HOME=", 0) == 0) home = entry.substr(5);
    }
    std::filesystem::create_directories(home + "/.dictation");
    writeFixture(home + "/.dictation/config", "SHORTCUT_CHORD=" + chord + "\n");
    std::filesystem::remove(home + "/.dictation/vak.log");
    gnome.giveToUser(home);
    RunOptions options;
    options.timeoutSeconds = 60;
    const auto result = runProcess(
        gnome.asUser({VAK_BINARY, "--add-shortcut"}, {"ASAN_OPTIONS=detect_leaks=0"}), options);
    return {result && result->status.exited() ? result->status.code : -1,
            readFixture(home + "/.dictation/vak.log")};
}

constexpr const char* kMediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:";
constexpr const char* kFolder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";

struct ShortcutOffer {
    const char* chord;
    int status;
    const char* logLine;
};

// The same desktop, where the daemon's desktop shortcut is the trigger key.
class GnomeShortcut : public GnomeDaemon {};

TEST_P(GnomeShortcut, TheDesktopShortcutItAddsStartsAndStopsADictation) {
    const std::string users = std::string(kFolder) + "custom0/";
    // The user's own shortcut, which must survive ours.
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {std::string(kCustom) + users + " name", "'Terminal'"},
             {std::string(kCustom) + users + " binding", "'<Control><Alt>t'"},
             {std::string(kCustom) + users + " command", "'true'"},
             {std::string(kMediaKeys) + " custom-keybindings", "['" + users + "']"}}) {
        const std::string schema = key.substr(0, key.find(' '));
        RunOptions options;
        options.timeoutSeconds = 10;
        const auto set = runProcess(desktop->asUser({"/usr/bin/gsettings", "set", schema,
                                                     key.substr(key.find(' ') + 1), value}),
                                    options);
        ASSERT_TRUE(set && set->status.success()) << key;
    }
    // GNOME's daemon that runs custom shortcuts, as a GNOME session starts it.
    ASSERT_TRUE(desktop->start({"/usr/libexec/gsd-media-keys"}));
    ASSERT_TRUE(waitUntil(
        [&] {
            RunOptions options;
            options.timeoutSeconds = 5;
            const auto owner = runProcess(
                desktop->asUser({"/usr/bin/gdbus", "call", "--session", "--dest",
                                 "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                                 "--method", "org.freedesktop.DBus.NameHasOwner",
                                 "org.gnome.SettingsDaemon.MediaKeys"}),
                options);
            return owner && owner->output.find("true") != std::string::npos;
        },
        30));

    ASSERT_TRUE(startDaemon(true)) << logText();
    EXPECT_TRUE(test::waitForDaemonLog(
        home, "· the trigger key can be a GNOME shortcut instead: Settings ▸ Add shortcut: "
              "Super+Alt+Space"))
        << logText();

    // A chord GNOME itself binds is refused; the default is added once.
    for (const ShortcutOffer& offer :
         {ShortcutOffer{"Super+Space", 1,
                        "⚠️ Super+Space is taken by GNOME's switch-input-source "
                        "(org.gnome.desktop.wm.keybindings)"},
          ShortcutOffer{"Ctrl+Alt+T", 1, "is taken by the custom shortcut \"Terminal\""},
          ShortcutOffer{"Super+Alt+Space", 0,
                        "✓ Super+Alt+Space now starts and stops dictation (a GNOME shortcut)"},
          ShortcutOffer{"super+alt+space", 0, "✓ Super+Alt+Space already starts and stops"}}) {
        const auto [status, log] = addShortcut(*desktop, offer.chord);
        EXPECT_EQ(status, offer.status) << offer.chord << "\n" << log;
        EXPECT_NE(log.find(offer.logLine), std::string::npos) << offer.chord << "\n" << log;
    }
    const std::string ours = std::string(kFolder) + "vak-dictate-toggle/";
    EXPECT_EQ(gsettingsValue(*desktop, kMediaKeys, "custom-keybindings"),
              "['" + users + "', '" + ours + "']\n");
    EXPECT_EQ(gsettingsValue(*desktop, kCustom + users, "binding"), "'<Control><Alt>t'\n");
    EXPECT_EQ(gsettingsValue(*desktop, kCustom + ours, "binding"), "'<Super><Alt>space'\n");
    EXPECT_EQ(gsettingsValue(*desktop, kCustom + ours, "command"),
              "'" + std::string(VAK_BINARY) + " --toggle'\n");

    // The chord, pressed on the seat's keyboard, starts a dictation and then stops it.
    const auto pressChord = [&] {
        RunOptions options;
        options.timeoutSeconds = 10;
        const auto pressed = runProcess(desktop->asUser({VAK_REMOTE_KEYS, "--keys", "+0xffeb",
                                                         "+0xffe9", "0x20", "-0xffe9", "-0xffeb"}),
                                        options);
        return pressed && pressed->status.success();
    };
    test::say(home, "hello from the shortcut");
    ASSERT_TRUE(pressChord());
    ASSERT_TRUE(test::waitForDaemonLog(home, "● recording… (session 1)")) << logText();
    test::speak(*pulse);
    ASSERT_TRUE(pressChord());
    EXPECT_TRUE(waitUntil([&] { return received() == "Hello from the shortcut."; }))
        << readFixture(record) << logText();
    EXPECT_NE(logText().find("· control: toggle"), std::string::npos) << logText();
}

INSTANTIATE_TEST_SUITE_P(Shortcut, GnomeShortcut,
                         testing::Values(DesktopCase{"ShortcutIntoQt", true, Window::Qt, true, {}}),
                         [](const auto& test) { return std::string(test.param.name); });

// KDE Plasma without /dev/input: the desktop's GlobalShortcuts portal holds the trigger's
// shortcuts in KWin's global-shortcut service. This KWin has no keyboard to press them with, so
// the service presses the dictation shortcut itself, as a held key: held past HOLD_SECONDS, it
// records.
class KwinPortal : public KwinDaemon {};

TEST_P(KwinPortal, TheDictationShortcutHeldDownRecords) {
    RunOptions options;
    options.timeoutSeconds = 15;
    const auto gdbus = [&](const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {"/usr/bin/gdbus", "call", "--session"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const auto result = runProcess(desktop->asUser(argv), options);
        return result && result->status.success();
    };
    ASSERT_TRUE(startDaemon(true)) << logText();
    ASSERT_TRUE(test::waitForDaemonLog(home,
                                       "· key monitor: the GlobalShortcuts portal (version 1): "
                                       "dictation=Meta+Alt+Space, command=Meta+Alt+Shift+Space",
                                       30))
        << logText();
    ASSERT_TRUE(gdbus({"--dest", "org.kde.kglobalaccel", "--object-path", "/component/vak_dictate",
                       "--method", "org.kde.kglobalaccel.Component.invokeShortcut", "dictation"}));
    EXPECT_TRUE(test::waitForDaemonLog(home, "● recording… (session 1)")) << logText();
}

INSTANTIATE_TEST_SUITE_P(Portal, KwinPortal,
                         testing::Values(DesktopCase{"PortalShortcut", true, Window::Qt, true, {}}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace vak
