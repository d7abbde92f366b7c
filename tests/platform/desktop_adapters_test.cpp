// The Linux desktop adapters' logic that needs no display: key translation,
// window-class parsing, the feedback tones, the service control and the file opener.
#include "base/files.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "base/unicode.h"
#include "platform/linux/key_translation.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/systemd_service_control.h"
#include "platform/linux/tones.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xcb_connection.h"
#include "platform/linux/xdg_file_opener.h"
#include "platform/sound_player.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <cmath>
#include <set>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

// A keyboard with the modifiers on their usual evdev keycodes.
KeyTranslator usKeyboard() {
    std::array<std::uint32_t, 256> syms{};
    syms[9] = keysym::Escape;
    syms[38] = 0x61; // a
    syms[50] = keysym::Shift_L;
    syms[62] = keysym::Shift_R;
    syms[37] = keysym::Control_L;
    syms[105] = keysym::Control_R;
    syms[64] = keysym::Alt_L;
    syms[108] = keysym::ISO_Level3_Shift; // AltGr layouts
    syms[92] = keysym::Alt_R;
    syms[133] = keysym::Super_L;
    syms[134] = keysym::Super_R;
    syms[66] = keysym::Caps_Lock;
    KeyTranslator keys;
    keys.setKeysyms(syms);
    return keys;
}

InputEvent changed(std::uint16_t code, std::uint64_t flags) {
    return {InputEventKind::FlagsChanged, code, flags};
}

TEST(KeyTranslation, EachModifierKeyGetsItsCodeAndBits) {
    struct Case {
        std::uint8_t keycode;
        std::uint16_t code;
        std::uint64_t flags;
    };
    const std::vector<Case> cases = {
        {134, 54, 0x0010 | COMMAND_MASK}, {133, 55, 0x0008 | COMMAND_MASK},
        {92, 61, 0x0040 | OPTION_MASK},   {108, 61, 0x0040 | OPTION_MASK},
        {64, 58, 0x0020 | OPTION_MASK},   {105, 62, 0x2000 | CONTROL_MASK},
        {37, 59, 0x0001 | CONTROL_MASK},  {62, 60, 0x0004 | SHIFT_MASK},
        {50, 56, 0x0002 | SHIFT_MASK},
    };
    for (const Case& c : cases) {
        KeyTranslator keys = usKeyboard();
        EXPECT_EQ(keys.press(c.keycode), changed(c.code, c.flags)) << int(c.keycode);
        EXPECT_EQ(keys.release(c.keycode), changed(c.code, 0)) << int(c.keycode);
    }
}

TEST(KeyTranslation, FlagsCarryEveryHeldModifierAndOtherKeysAreKeyDowns) {
    KeyTranslator keys = usKeyboard();
    keys.press(133); // Left Command held
    EXPECT_EQ(keys.press(134), changed(54, 0x18 | COMMAND_MASK));
    EXPECT_EQ(keys.press(38),
              (InputEvent{InputEventKind::KeyDown, UNKNOWN_KEY_CODE, 0x18 | COMMAND_MASK}));
    EXPECT_EQ(keys.release(38), std::nullopt);
    // Right Command up: Command stays, from the left key.
    EXPECT_EQ(keys.release(134), changed(54, 0x08 | COMMAND_MASK));
    EXPECT_EQ(keys.press(9),
              (InputEvent{InputEventKind::KeyDown, ESCAPE_KEY_CODE, 0x08 | COMMAND_MASK}));
    // A modifier's auto-repeat is no new change; Caps Lock is a change of no flag.
    keys.press(50);
    EXPECT_EQ(keys.press(50), std::nullopt);
    EXPECT_EQ(keys.press(66), changed(57, 0x0A | COMMAND_MASK | SHIFT_MASK));
    // A key held when the monitor started counts until it is released.
    KeyTranslator fresh = usKeyboard();
    fresh.setHeld(64, true);
    EXPECT_EQ(fresh.press(134), changed(54, 0x10 | COMMAND_MASK | 0x20 | OPTION_MASK));
}

TEST(KeyTranslation, KeyboardMapFindsKeycodesPreferringThePrimaryColumn) {
    KeyboardMap map;
    map.minKeycode = 8;
    map.perKeycode = 2;
    map.keysyms = {0, 0, /*9*/ 0x56, 0x76, /*10*/ 0x76, 0x56, /*11*/ keysym::Super_R, 0};
    EXPECT_EQ(map.keycodeFor(0x76), 10); // "v" on 9 only when shifted
    EXPECT_EQ(map.keycodeFor(0x56), 9);
    EXPECT_EQ(map.primary(11), keysym::Super_R);
    EXPECT_EQ(map.primary(7), 0u);
    EXPECT_EQ(map.primary(200), 0u);
    EXPECT_EQ(map.keycodeFor(keysym::Escape), std::nullopt);
}

TEST(QtPasteboard, WithoutAnApplicationItIsEmptyAndIgnoresWrites) {
    QtPasteboard board;
    board.setText("words");
    board.write({PasteboardItem{{{"text/plain", "more"}}}});
    board.clear();
    EXPECT_EQ(board.text(), std::nullopt);
    EXPECT_TRUE(board.snapshot().empty());
    EXPECT_EQ(board.changeCount(), 0);
}

TEST(FrontmostApp, ClassPartOfWmClass) {
    using namespace std::string_literals;
    EXPECT_EQ(wmClassName("gnome-terminal-server\0Gnome-terminal\0"s), "Gnome-terminal");
    EXPECT_EQ(wmClassName("navigator\0firefox"s), "firefox");
    EXPECT_EQ(wmClassName("only-instance\0"s), std::nullopt);
    EXPECT_EQ(wmClassName("no separator"), std::nullopt);
    EXPECT_EQ(wmClassName(""), std::nullopt);
}

TEST(Tones, SixShortDistinctSoundsThatStartAndEndSilent) {
    std::set<std::vector<std::int16_t>> distinct;
    for (const Sound sound : kSounds) {
        const std::string_view name = soundName(sound);
        const auto samples = toneSamples(sound);
        ASSERT_FALSE(samples.empty()) << name;
        const double seconds = static_cast<double>(samples.size()) / TONE_SAMPLE_RATE;
        EXPECT_GT(seconds, 0.05) << name;
        EXPECT_LT(seconds, 1.0) << name;
        int peak = 0;
        for (const std::int16_t s : samples)
            peak = std::max(peak, std::abs(int(s)));
        EXPECT_GT(peak, 3000) << name << " is audible";
        EXPECT_LT(peak, 20000) << name << " is not deafening";
        EXPECT_LT(std::abs(int(samples.front())), 200) << name << " starts without a click";
        EXPECT_LT(std::abs(int(samples.back())), 200) << name << " ends without a click";
        distinct.insert(samples);
    }
    EXPECT_EQ(distinct.size(), kSounds.size());
    EXPECT_EQ(toneSamples(Sound::Start), toneSamples(Sound::Start));
}

TEST(ServiceControl, CgroupTellsWhetherSystemdStartedUs) {
    EXPECT_TRUE(cgroupInUnit("0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                             "vak-dictate.service\n",
                             SERVICE_UNIT));
    EXPECT_TRUE(
        cgroupInUnit("12:pids:/x\n1:name=systemd:/user.slice/vak-dictate.service\n", SERVICE_UNIT));
    EXPECT_FALSE(cgroupInUnit("0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                              "vte-spawn-1234.scope\n",
                              SERVICE_UNIT));
    EXPECT_FALSE(cgroupInUnit("0::/user.slice/other-vak-dictate.service\n", SERVICE_UNIT));
    EXPECT_FALSE(cgroupInUnit("", SERVICE_UNIT));
}

// A stand-in for a system tool that records its arguments and exits with `status`.
std::string recordingTool(const TempDir& dir, const std::string& name, int status) {
    const std::string path = dir.file(name);
    writeFixture(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + dir.file(name + ".args") +
                           "'\nexit " + std::to_string(status) + "\n");
    ::chmod(path.c_str(), 0700);
    return path;
}

TEST(ServiceControl, UnderSystemdStopAndRestartGoThroughSystemctl) {
    TempDir dir;
    const std::string inUnit = "0::/user.slice/user@1000.service/app.slice/vak-dictate.service\n";
    SystemdServiceControl control({"/nonexistent/vak-dictate"}, inUnit,
                                  recordingTool(dir, "systemctl", 0));
    ASSERT_TRUE(control.underSystemd());
    EXPECT_TRUE(control.stopService());
    EXPECT_TRUE(control.restartService());
    EXPECT_EQ(readFixture(dir.file("systemctl.args")),
              "--user\n--no-block\nstop\nvak-dictate.service\n"
              "--user\n--no-block\nrestart\nvak-dictate.service\n");

    test::LogCapture logs;
    SystemdServiceControl failing({"x"}, inUnit, recordingTool(dir, "refusing", 1));
    EXPECT_FALSE(failing.restartService());
    SystemdServiceControl missing({"x"}, inUnit, dir.file("no-such-systemctl"));
    EXPECT_FALSE(missing.stopService());
    EXPECT_EQ(logs.messages().size(), 2u);
}

TEST(ServiceControl, OutsideSystemdARestartReexecutesTheProgramCleanly) {
    // The helper leaves SIGUSR1 blocked and pending, a descriptor open and a child running,
    // then restarts.
    const auto result = runProcess({VAK_TEST_REEXEC, "FIRST"}, RunOptions{});
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->status.success());
    EXPECT_EQ(result->output, "restarted fd=closed usr1=unblocked child=gone\n");
    // Not a service: stopping has nothing to do and is no failure.
    SystemdServiceControl control({"x"}, std::string("0::/user.slice/session-2.scope\n"));
    EXPECT_FALSE(control.underSystemd());
    EXPECT_TRUE(control.stopService());
}

TEST(FileOpener, RunsXdgOpenWithThePathAsOneArgument) {
    TempDir dir;
    XdgFileOpener opener(recordingTool(dir, "xdg-open", 0));
    EXPECT_TRUE(opener.open("/home/u/.dictation/config file; rm -rf ~"));
    EXPECT_TRUE(opener.open("-n"));
    test::waitUntil([&] { return readFixture(dir.file("xdg-open.args")).size() >= 45; });
    // The two openers run side by side, so their lines may come in either order.
    std::string args = readFixture(dir.file("xdg-open.args"));
    if (args.rfind("./-n\n", 0) == 0) args = args.substr(5) + "./-n\n";
    EXPECT_EQ(args, "/home/u/.dictation/config file; rm -rf ~\n./-n\n");
    XdgFileOpener missing(dir.file("no-such-xdg-open"));
    test::LogCapture logs;
    EXPECT_FALSE(missing.open("/tmp/x"));
}

TEST(FileOpener, AHungOpenerIsStoppedAndAFailureLogged) {
    TempDir dir;
    const std::string hung = dir.file("hung-open");
    writeFixture(hung, "#!/bin/sh\nexec sleep 30\n");
    ::chmod(hung.c_str(), 0700);
    test::LogCapture logs;
    const auto start = SteadyClock::now();
    EXPECT_TRUE(XdgFileOpener(hung, 0.3).open("/tmp/x"));
    EXPECT_TRUE(XdgFileOpener(recordingTool(dir, "failing-open", 4)).open("/tmp/y"));
    EXPECT_LT(secondsSince(start), 1.0) << "open never waits for the opener";
    test::waitUntil([&] { return !logs.messages().empty(); });
    // Only the failure is logged: the stopped one may well have opened the file.
    test::settle(0.5);
    EXPECT_EQ(logs.messages(),
              std::vector<std::string>{"⚠️ xdg-open could not open /tmp/y (status 4)"});
}

} // namespace
} // namespace vak
