// The Wayland backends' logic that needs no compositor and no device node: GNOME's shortcut
// values, the backend choice, the evdev reader on recorded event streams and on pipes standing
// in for the event nodes, device kinds, and the virtual keyboard.
#include "base/main_queue.h"
#include "platform/desktop_shortcut.h"
#include "platform/linux/atspi_frontmost_app.h"
#include "platform/linux/desktop_backend.h"
#include "platform/linux/evdev_decoder.h"
#include "platform/linux/evdev_devices.h"
#include "platform/linux/evdev_key_monitor.h"
#include "platform/linux/gnome_shortcuts.h"
#include "platform/linux/terminal_families.h"
#include "platform/linux/uinput_key_synth.h"
#include "platform/linux/xcb_connection.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <mutex>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vak {
namespace {

// A chord as the user writes it, as we show it, as GNOME binds it, and as GNOME may hold it.
TEST(DesktopShortcut, ChordsAreReadAndMatchedAsGnomeWritesThem) {
    struct Case {
        std::string written;
        std::optional<std::string> shown; // nothing: not a chord a desktop binds
        std::string accelerator;
        std::string heldByGnome;
    };
    const std::vector<Case> cases = {
        {"Super+Alt+Space", "Super+Alt+Space", "<Super><Alt>space", "<Alt><Super>space"},
        {" meta + ctrl + d ", "Super+Ctrl+D", "<Super><Control>d", "<Primary><Super>D"},
        {"Shift+A", std::nullopt, "", ""},
        {"Alt+PageDown", "Alt+PageDown", "<Alt>Page_Down", "<Mod1>Page_Down"},
    };
    for (const Case& c : cases) {
        const auto chord = parseShortcutChord(c.written);
        ASSERT_EQ(chord.has_value(), c.shown.has_value()) << c.written;
        if (!chord) continue;
        EXPECT_EQ(chordText(*chord), *c.shown) << c.written;
        EXPECT_EQ(gnome_keys::accelerator(*chord), c.accelerator) << c.written;
        const auto held = gnome_keys::parseAccelerator(c.heldByGnome);
        ASSERT_TRUE(held) << c.heldByGnome;
        EXPECT_EQ(gnome_keys::accelerator(*held), c.accelerator) << c.heldByGnome;
    }
}

// What gsettings prints, read back; and what we write, read as gsettings would.
TEST(DesktopShortcut, GsettingsValuesAreReadAndWrittenWithTheirQuotes) {
    using Strings = std::vector<std::string>;
    const std::vector<std::pair<std::string, std::optional<Strings>>> cases = {
        {"@as []\n", Strings{}},
        {"['/a/custom0/', '/a/custom1/']\n", Strings{"/a/custom0/", "/a/custom1/"}},
        {R"(["it's", 'back\\slash'])", Strings{"it's", "back\\slash"}},
        {"['unterminated", std::nullopt},
        {"uint32 5", std::nullopt},
    };
    for (const auto& [printed, items] : cases)
        EXPECT_EQ(gnome_keys::parseStrings(printed), items) << printed;
    const Strings odd = {"it's", "a\\b", "plain"};
    EXPECT_EQ(gnome_keys::parseStrings(gnome_keys::quotedList(odd)), odd);
    EXPECT_EQ(gnome_keys::commandLine({"/opt/My Apps/vak-dictate", "--toggle"}),
              "'/opt/My Apps/vak-dictate' --toggle");
}

// A bus that takes the connection and never says a word (a hung bus daemon) is given up on in
// about a second, before the accessibility library would wait on it for good.
TEST(AccessibilityBus, AHungBusIsNotWaitedFor) {
    test::TempDir dir;
    const std::string path = dir.file("hung-bus");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::setenv("AT_SPI_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(AtspiFrontmostApp::create(), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    ::close(listener);
}

TEST(DesktopBackend, TheOverrideThenTheConfigurationThenTheSession) {
    struct Case {
        DesktopSession session;
        DesktopBackend backend;
        std::string why;
    };
    const std::vector<Case> cases = {
        {{"", "auto", "wayland-0", "wayland", ":0"}, DesktopBackend::Wayland, "wayland-0"},
        {{"", "auto", "", "wayland", ""}, DesktopBackend::Wayland, "XDG_SESSION_TYPE=wayland"},
        {{"", "auto", "", "x11", ":1"}, DesktopBackend::X11, "DISPLAY=:1"},
        {{"", "x11", "wayland-0", "wayland", ":0"}, DesktopBackend::X11, "DESKTOP_BACKEND=x11"},
        {{"X11", "wayland", "wayland-0", "", ""}, DesktopBackend::X11, "VAK_DESKTOP_BACKEND=X11"},
        {{"mir", "sway", "", "", ":0"}, DesktopBackend::X11, "DISPLAY=:0"}, // unknown: auto
    };
    for (const Case& c : cases) {
        const DesktopChoice choice = chooseDesktopBackend(c.session);
        EXPECT_EQ(choice.backend, c.backend) << c.why;
        EXPECT_NE(choice.why.find(c.why), std::string::npos) << choice.why;
    }
}

struct Record {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
};
using Records = std::vector<Record>;

// What a keyboard sends for one key change: scan code, key, report.
Records key(std::uint16_t code, std::int32_t value) {
    return {{EV_MSC, MSC_SCAN, 458752 + code}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}
const auto down = [](std::uint16_t code) { return key(code, 1); };
const auto up = [](std::uint16_t code) { return key(code, 0); };
const auto wheel = [](std::uint16_t axis) { return Records{{EV_REL, axis, -1}}; };
const InputEvent click{InputEventKind::MouseDown, UNKNOWN_KEY_CODE, 0};
const InputEvent scroll{InputEventKind::Scroll, UNKNOWN_KEY_CODE, 0};

// The bytes read() gives for `parts`, in the kernel's input_event layout.
std::string stream(const std::vector<Records>& parts) {
    std::string bytes;
    for (const auto& part : parts) {
        for (const Record& record : part) {
            input_event event{};
            event.type = record.type;
            event.code = record.code;
            event.value = record.value;
            bytes.append(reinterpret_cast<const char*>(&event), sizeof event);
        }
    }
    return bytes;
}

const auto flagsChanged = [](std::uint16_t code, std::uint64_t flags) {
    return InputEvent{InputEventKind::FlagsChanged, code, flags};
};
const auto keyDown = [](std::uint16_t code, std::uint64_t flags) {
    return InputEvent{InputEventKind::KeyDown, code, flags};
};

constexpr std::uint64_t kRightSuper = 0x0010 | COMMAND_MASK;
constexpr std::uint64_t kLeftAlt = 0x0020 | OPTION_MASK;
constexpr std::uint64_t kRightCtrl = 0x2000 | CONTROL_MASK;

TEST(EvdevDecoder, StreamsBecomeTheEventsTheRecogniserKnows) {
    struct Case {
        const char* name;
        std::vector<Records> parts;
        std::vector<InputEvent> events;
    };
    const std::vector<Case> cases = {
        {"a chord carries every modifier held",
         {down(KEY_LEFTALT), down(KEY_RIGHTMETA), up(KEY_RIGHTMETA), up(KEY_LEFTALT)},
         {flagsChanged(58, kLeftAlt), flagsChanged(54, kLeftAlt | kRightSuper),
          flagsChanged(54, kLeftAlt), flagsChanged(58, 0)}},
        {"repeats count for nothing, a letter is a key down",
         {down(KEY_RIGHTCTRL), key(KEY_RIGHTCTRL, 2), down(KEY_A), key(KEY_A, 2), up(KEY_A),
          up(KEY_RIGHTCTRL)},
         {flagsChanged(62, kRightCtrl), keyDown(UNKNOWN_KEY_CODE, kRightCtrl),
          flagsChanged(62, 0)}},
        {"Escape has its code; keys past the X keycodes are just keys",
         {down(KEY_ESC), up(KEY_ESC), down(KEY_MICMUTE)},
         {keyDown(ESCAPE_KEY_CODE, 0), keyDown(UNKNOWN_KEY_CODE, 0)}},
        {"mouse buttons and wheels, high resolution too",
         {down(BTN_LEFT), up(BTN_LEFT), down(BTN_SIDE), wheel(REL_WHEEL), wheel(REL_HWHEEL_HI_RES)},
         {click, click, scroll, scroll}},
        {"a release never pressed is nothing", {up(KEY_RIGHTMETA), up(KEY_A)}, {}},
    };
    // The key table it shares with X11 is indexed as X's evdev map is: the kernel's code + 8.
    EXPECT_EQ(evdevKeysyms()[KEY_RIGHTMETA + 8], keysym::Super_R);
    for (const Case& c : cases) {
        EvdevDecoder whole;
        EXPECT_EQ(whole.feed(1, stream(c.parts)), c.events) << c.name;
        // Reads that end inside a record give the same events.
        EvdevDecoder pieces;
        const std::string bytes = stream(c.parts);
        std::vector<InputEvent> events;
        for (std::size_t at = 0; at < bytes.size(); at += 7)
            std::ranges::copy(pieces.feed(1, bytes.substr(at, 7)), std::back_inserter(events));
        EXPECT_EQ(events, c.events) << c.name << " in pieces";
    }
}

TEST(EvdevDecoder, LostEventsAreSkippedAndTheKeyStateTakenAgain) {
    EvdevDecoder decoder;
    decoder.feed(1, stream({down(KEY_RIGHTMETA)}));
    // The kernel's buffer overflowed: what it still sends up to the next report is incomplete.
    const auto during = decoder.feed(
        1, stream({{{EV_SYN, SYN_DROPPED, 0}, {EV_KEY, KEY_RIGHTMETA, 0}, {EV_KEY, KEY_A, 1}},
                   {{EV_SYN, SYN_REPORT, 0}}}));
    EXPECT_TRUE(during.empty());
    ASSERT_TRUE(decoder.needsResync(1));
    // Right Super came up meanwhile and Left Shift went down.
    EXPECT_EQ(
        decoder.resync(1, {KEY_LEFTSHIFT}),
        (std::vector<InputEvent>{flagsChanged(54, 0), flagsChanged(56, 0x0002 | SHIFT_MASK)}));
    EXPECT_FALSE(decoder.needsResync(1));
}

TEST(EvdevDecoder, KeysHeldAreCountedPerKeyboard) {
    EvdevDecoder decoder;
    decoder.feed(1, stream({down(KEY_LEFTSHIFT)}));
    // Held on a second keyboard too: no new change, and still held when the first lets go.
    EXPECT_TRUE(decoder.feed(2, stream({down(KEY_LEFTSHIFT)})).empty());
    EXPECT_TRUE(decoder.feed(1, stream({up(KEY_LEFTSHIFT)})).empty());
    EXPECT_EQ(decoder.flags(), 0x0002 | SHIFT_MASK);
    // The second one is unplugged with the key down.
    EXPECT_EQ(decoder.remove(2), (std::vector<InputEvent>{flagsChanged(56, 0)}));
    EXPECT_EQ(decoder.flags(), 0u);
}

// Our own virtual keyboard is never read: its pastes would come back as the user's keys.
TEST(InputDevices, KeyboardsAndPointersAreReadOthersAndOurOwnAreNot) {
    const std::vector<std::tuple<const char*, Records, InputDeviceKind>> cases = {
        {"AT keyboard", {{EV_KEY, KEY_A, 0}}, InputDeviceKind::Keyboard},
        {"mouse", {{EV_KEY, BTN_LEFT, 0}, {EV_REL, REL_X, 0}}, InputDeviceKind::Pointer},
        {"Power Button", {{EV_KEY, KEY_POWER, 0}}, InputDeviceKind::Other},
        {VIRTUAL_KEYBOARD_NAME,
         {{EV_KEY, KEY_LEFTCTRL, 0}, {EV_KEY, KEY_V, 0}},
         InputDeviceKind::Other},
    };
    for (const auto& [name, codes, kind] : cases) {
        libevdev* device = libevdev_new();
        libevdev_set_name(device, name);
        for (const Record& code : codes)
            libevdev_enable_event_code(device, code.type, code.code, nullptr);
        EXPECT_EQ(classifyInputDevice(device), kind) << name;
        libevdev_free(device);
    }
}

// Pipes standing in for the event nodes: a look opens (duplicates) those plugged in, and
// plugging one in wakes the monitor as inotify would; unplugging closes the writing end.
struct PipeDevices final : InputDeviceSource {
    struct Node {
        std::string path;
        UniqueFd reader, writer;
    };
    std::mutex mutex;
    std::vector<Node> present;
    UniqueFd changed{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

    int plugIn(const std::string& path) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        std::lock_guard lock(mutex);
        present.push_back({path, UniqueFd(fds[0]), UniqueFd(fds[1])});
        EXPECT_EQ(::eventfd_write(changed.get(), 1), 0);
        return fds[1];
    }
    void unplug(int writer) {
        std::lock_guard lock(mutex);
        std::erase_if(present, [writer](const Node& n) { return n.writer.get() == writer; });
    }
    InputDeviceScan scan(const std::vector<std::string>& skip) override {
        std::lock_guard lock(mutex);
        InputDeviceScan result;
        for (const Node& n : present) {
            if (std::ranges::find(skip, n.path) != skip.end()) continue;
            result.devices.push_back({n.path, n.path, InputDeviceKind::Keyboard,
                                      UniqueFd(::fcntl(n.reader.get(), F_DUPFD_CLOEXEC, 0))});
        }
        return result;
    }
    int changes() override { return changed.get(); }
    void drainChanges() override {
        eventfd_t count = 0;
        ::eventfd_read(changed.get(), &count);
    }
    std::vector<std::uint16_t> heldKeys(int) override { return {}; }
};

// A keyboard plugged in while it runs is read; one unplugged with a key down lets go of it (a
// trigger key left held would start a dictation nobody asked for).
TEST(EvdevMonitor, ReadsKeyboardsPluggedInLaterAndReleasesWhatAnUnpluggedOneHeld) {
    std::vector<InputEvent> received;
    const auto devices = std::make_shared<PipeDevices>();
    EvdevKeyMonitor monitor(devices);
    const auto press = [](int keyboard, std::uint16_t code) {
        const std::string bytes = stream({down(code)});
        EXPECT_EQ(::write(keyboard, bytes.data(), bytes.size()), std::ssize(bytes));
    };
    const auto receive = [&](std::size_t count) {
        return test::waitUntil([&] {
            defaultRunLoop().runFor(0.01);
            return received.size() >= count;
        });
    };
    const int first = devices->plugIn("/dev/input/event4");
    ASSERT_TRUE(monitor.start([&](const InputEvent& event) { received.push_back(event); }));
    press(first, KEY_LEFTALT);
    ASSERT_TRUE(receive(1));
    press(devices->plugIn("/dev/input/event9"), KEY_ESC);
    ASSERT_TRUE(receive(2));
    EXPECT_EQ(received[1], keyDown(ESCAPE_KEY_CODE, kLeftAlt));
    devices->unplug(first);
    ASSERT_TRUE(receive(3));
    EXPECT_EQ(received[2], flagsChanged(58, 0));
    EXPECT_EQ(monitor.heldFlags(), 0u);
}

struct RecordingUinput final : UinputDevice {
    explicit RecordingUinput(Records& w) : written(w) {}
    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        written.push_back({type, code, value});
        return true;
    }
    Records& written;
};

using KeyChanges = std::vector<std::pair<std::uint16_t, std::int32_t>>;

// The virtual keyboard through the layer that issues its calls, with the user's Left Alt held
// for the looks it takes before `altUntil`.
TEST(VirtualKeyboard, TypesTheShortcutOnOneDeviceOnceTheUsersModifiersAreUp) {
    Records written;
    int created = 0;
    std::size_t looks = 0;
    std::size_t altUntil = 0;
    double slept = 0;
    UinputKeySynth synth(
        [&](std::string*) -> std::unique_ptr<UinputDevice> {
            ++created;
            return std::make_unique<RecordingUinput>(written);
        },
        [&]() -> std::uint64_t { return looks++ < altUntil ? OPTION_MASK | 0x0020 : 0; },
        [&](double seconds) { slept += seconds; });
    // The key changes written since the last look, each reported on its own as a keyboard does.
    const auto keys = [&] {
        KeyChanges result;
        for (std::size_t i = 0; i < written.size(); ++i) {
            if (written[i].type != EV_KEY) continue;
            result.emplace_back(written[i].code, written[i].value);
            EXPECT_TRUE(i + 1 < written.size() && written[i + 1].type == EV_SYN &&
                        written[i + 1].code == SYN_REPORT);
        }
        written.clear();
        return result;
    };
    ASSERT_TRUE(synth.send(pasteStyleFor("foot").paste));
    EXPECT_EQ(keys(), (KeyChanges{{KEY_LEFTCTRL, 1},
                                  {KEY_LEFTSHIFT, 1},
                                  {KEY_V, 1},
                                  {KEY_V, 0},
                                  {KEY_LEFTSHIFT, 0},
                                  {KEY_LEFTCTRL, 0}}));
    // The compositor is given its moment to find the new keyboard, once.
    EXPECT_NEAR(slept, 0.3, 0.05);
    altUntil = looks + 2;
    ASSERT_TRUE(synth.send(*pasteStyleFor("org.gnome.texteditor").copy));
    EXPECT_EQ(keys(), (KeyChanges{{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}}));
    EXPECT_NEAR(slept, 0.3 + 2 * 0.01, 0.05); // two waits for Alt
    altUntil = looks + 1000;                  // never let go
    slept = 0;
    ASSERT_TRUE(synth.send(*STANDARD_PASTE_STYLE.copy));
    EXPECT_NEAR(slept, 0.5, 0.011);
    EXPECT_EQ(keys().size(), 4u);
    EXPECT_EQ(created, 1);
}

// Without /dev/uinput (as here) the real virtual keyboard says why and types nothing.
TEST(VirtualKeyboard, WithoutUinputNothingIsSentAndTheReasonKept) {
    if (::access("/dev/uinput", W_OK) == 0) GTEST_SKIP() << "/dev/uinput is writable here";
    UinputKeySynth synth(
        createUinputKeyboard, [] { return 0; }, [](double) {});
    EXPECT_FALSE(synth.available());
    EXPECT_NE(synth.why().find("/dev/uinput"), std::string::npos) << synth.why();
    EXPECT_FALSE(synth.send(STANDARD_PASTE_STYLE.paste));
}

} // namespace
} // namespace vak
