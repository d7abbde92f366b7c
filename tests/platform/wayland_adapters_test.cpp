// The Wayland backends' logic that needs no compositor and no device node: the backend choice,
// the evdev reader on recorded event streams, device kinds, and the virtual keyboard through the
// layer that issues its calls.
#include "base/files.h"
#include "base/main_queue.h"
#include "platform/desktop_shortcut.h"
#include "platform/linux/atspi_frontmost_app.h"
#include "platform/linux/desktop_backend.h"
#include "platform/linux/evdev_decoder.h"
#include "platform/linux/evdev_devices.h"
#include "platform/linux/evdev_key_monitor.h"
#include "platform/linux/gnome_shortcuts.h"
#include "platform/linux/input_access.h"
#include "platform/linux/terminal_families.h"
#include "platform/linux/uinput_key_synth.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <algorithm>
#include <chrono>
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

// ---- Desktop shortcuts

// A chord as the user writes it, as we show it, as GNOME binds it, and the same chord as GNOME
// may already hold it in its own settings.
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
        {"Ctrl+Shift+F9", "Ctrl+Shift+F9", "<Control><Shift>F9", "<Shift><Ctrl>F9"},
        {"Alt+PageDown", "Alt+PageDown", "<Alt>Page_Down", "<Mod1>Page_Down"},
        {"Super", std::nullopt, "", ""},     // a modifier alone
        {"Space", std::nullopt, "", ""},     // a key alone
        {"Shift+A", std::nullopt, "", ""},   // typing
        {"Super+Alt", std::nullopt, "", ""}, // no key
        {"Super+Space+Alt", std::nullopt, "", ""},
        {"Super+Super+A", std::nullopt, "", ""},
        {"Hyper+A", std::nullopt, "", ""},
        {"Ctrl+F25", std::nullopt, "", ""},
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
    struct Case {
        std::string printed;
        std::optional<std::vector<std::string>> items;
    };
    const std::vector<Case> cases = {
        {"@as []\n", std::vector<std::string>{}},
        {"['/a/custom0/', '/a/custom1/']\n",
         std::vector<std::string>{"/a/custom0/", "/a/custom1/"}},
        {"'<Super><Alt>space'", std::vector<std::string>{"<Super><Alt>space"}},
        {R"(["it's", 'back\\slash'])", std::vector<std::string>{"it's", "back\\slash"}},
        {"['unterminated", std::nullopt},
        {"true", std::nullopt},
        {"uint32 5", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gnome_keys::parseStrings(c.printed), c.items) << c.printed;
    const std::vector<std::string> odd = {"it's", "a\\b", "plain"};
    EXPECT_EQ(gnome_keys::parseStrings(gnome_keys::quotedList(odd)), odd);
    EXPECT_EQ(gnome_keys::parseStrings(gnome_keys::quotedList({})), std::vector<std::string>{});
    // The command is split as a shell would, without one.
    EXPECT_EQ(gnome_keys::commandLine({"/opt/My Apps/vak-dictate", "--toggle"}),
              "'/opt/My Apps/vak-dictate' --toggle");
    EXPECT_EQ(gnome_keys::commandLine({"/usr/bin/vak-dictate", "--toggle"}),
              "/usr/bin/vak-dictate --toggle");
}

// ---- The accessibility bus

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

// ---- The backend choice

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
        {{"", "auto", "", "", ""}, DesktopBackend::X11, "no Wayland session"},
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

// ---- The evdev reader on recorded streams

struct Record {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
};

// What a keyboard sends for one key change (scan code, key, report) or a mouse for a wheel turn.
std::vector<Record> key(std::uint16_t code, std::int32_t value) {
    return {{EV_MSC, MSC_SCAN, 458752 + code}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}
const auto down = [](std::uint16_t code) { return key(code, 1); };
const auto up = [](std::uint16_t code) { return key(code, 0); };
const auto repeat = [](std::uint16_t code) { return key(code, 2); };
const auto wheel = [](std::uint16_t axis) {
    return std::vector<Record>{{EV_REL, axis, -1}, {EV_SYN, SYN_REPORT, 0}};
};

// The bytes read() gives for `parts`, in the kernel's input_event layout.
std::string stream(const std::vector<std::vector<Record>>& parts) {
    std::string bytes;
    long usec = 0;
    for (const auto& part : parts) {
        for (const Record& record : part) {
            input_event event{};
            event.input_event_sec = 1700000000;
            event.input_event_usec = usec += 8000;
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

TEST(EvdevDecoder, EachModifierKeyGetsTheCodeAndBitsOfX11) {
    struct Case {
        std::uint16_t kernel;
        std::uint16_t code;
        std::uint64_t flags;
    };
    const std::vector<Case> cases = {
        {KEY_RIGHTMETA, 54, kRightSuper},          {KEY_LEFTMETA, 55, 0x0008 | COMMAND_MASK},
        {KEY_RIGHTALT, 61, 0x0040 | OPTION_MASK},  {KEY_LEFTALT, 58, kLeftAlt},
        {KEY_RIGHTCTRL, 62, kRightCtrl},           {KEY_LEFTCTRL, 59, 0x0001 | CONTROL_MASK},
        {KEY_RIGHTSHIFT, 60, 0x0004 | SHIFT_MASK}, {KEY_LEFTSHIFT, 56, 0x0002 | SHIFT_MASK},
    };
    for (const Case& c : cases) {
        EvdevDecoder decoder;
        EXPECT_EQ(decoder.feed(1, stream({down(c.kernel), up(c.kernel)})),
                  (std::vector<InputEvent>{flagsChanged(c.code, c.flags), flagsChanged(c.code, 0)}))
            << c.kernel;
    }
}

TEST(EvdevDecoder, StreamsBecomeTheEventsTheRecogniserKnows) {
    struct Case {
        const char* name;
        std::vector<std::vector<Record>> parts;
        std::vector<InputEvent> events;
    };
    const std::vector<Case> cases = {
        {"a chord carries every modifier held",
         {down(KEY_LEFTALT), down(KEY_RIGHTMETA), up(KEY_RIGHTMETA), up(KEY_LEFTALT)},
         {flagsChanged(58, kLeftAlt), flagsChanged(54, kLeftAlt | kRightSuper),
          flagsChanged(54, kLeftAlt), flagsChanged(58, 0)}},
        {"repeats count for nothing, a letter is a key down",
         {down(KEY_RIGHTCTRL), repeat(KEY_RIGHTCTRL), down(KEY_A), repeat(KEY_A), up(KEY_A),
          up(KEY_RIGHTCTRL)},
         {flagsChanged(62, kRightCtrl), keyDown(UNKNOWN_KEY_CODE, kRightCtrl),
          flagsChanged(62, 0)}},
        {"Escape has its code; keys past the X keycodes are just keys",
         {down(KEY_ESC), up(KEY_ESC), down(KEY_MICMUTE)},
         {keyDown(ESCAPE_KEY_CODE, 0), keyDown(UNKNOWN_KEY_CODE, 0)}},
        {"mouse buttons and wheels, high resolution too",
         {down(BTN_LEFT), up(BTN_LEFT), down(BTN_SIDE), wheel(REL_WHEEL), wheel(REL_HWHEEL_HI_RES)},
         {{InputEventKind::MouseDown, UNKNOWN_KEY_CODE, 0},
          {InputEventKind::MouseDown, UNKNOWN_KEY_CODE, 0},
          {InputEventKind::Scroll, UNKNOWN_KEY_CODE, 0},
          {InputEventKind::Scroll, UNKNOWN_KEY_CODE, 0}}},
        {"a release never pressed is nothing", {up(KEY_RIGHTMETA), up(KEY_A)}, {}},
    };
    for (const Case& c : cases) {
        EvdevDecoder whole;
        EXPECT_EQ(whole.feed(1, stream(c.parts)), c.events) << c.name;
        // Reads that end inside a record give the same events.
        EvdevDecoder pieces;
        const std::string bytes = stream(c.parts);
        std::vector<InputEvent> events;
        for (std::size_t at = 0; at < bytes.size(); at += 7) {
            for (const InputEvent& event : pieces.feed(1, bytes.substr(at, 7)))
                events.push_back(event);
        }
        EXPECT_EQ(events, c.events) << c.name << " in pieces";
    }
}

TEST(EvdevDecoder, LostEventsAreSkippedAndTheKeyStateTakenAgain) {
    EvdevDecoder decoder;
    decoder.feed(1, stream({down(KEY_RIGHTMETA)}));
    // The kernel's buffer overflowed: what it still sends up to the next report is incomplete.
    const auto during = decoder.feed(1, stream({{{EV_SYN, SYN_DROPPED, 0},
                                                 {EV_KEY, KEY_RIGHTMETA, 0},
                                                 {EV_KEY, KEY_A, 1},
                                                 {EV_SYN, SYN_REPORT, 0}}}));
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
    decoder.feed(2, stream({down(KEY_LEFTSHIFT)}));
    // Still held on the second keyboard.
    EXPECT_TRUE(decoder.feed(1, stream({up(KEY_LEFTSHIFT)})).empty());
    EXPECT_EQ(decoder.flags(), 0x0002 | SHIFT_MASK);
    // The second one is unplugged with the key down.
    EXPECT_EQ(decoder.remove(2), (std::vector<InputEvent>{flagsChanged(56, 0)}));
    EXPECT_EQ(decoder.flags(), 0u);
}

// ---- Devices

struct EvdevDevice {
    explicit EvdevDevice(const char* name, std::vector<std::pair<unsigned, unsigned>> codes)
        : device(libevdev_new()) {
        libevdev_set_name(device, name);
        for (const auto& [type, code] : codes) {
            libevdev_enable_event_type(device, type);
            libevdev_enable_event_code(device, type, code, nullptr);
        }
    }
    ~EvdevDevice() { libevdev_free(device); }
    libevdev* device;
};

TEST(InputDevices, KeyboardsAndPointersAreReadOthersAndOurOwnAreNot) {
    struct Case {
        const char* name;
        std::vector<std::pair<unsigned, unsigned>> codes;
        InputDeviceKind kind;
    };
    const std::vector<Case> cases = {
        {"AT keyboard", {{EV_KEY, KEY_A}, {EV_KEY, KEY_LEFTCTRL}}, InputDeviceKind::Keyboard},
        {"modifier pedal", {{EV_KEY, KEY_RIGHTMETA}}, InputDeviceKind::Keyboard},
        {"mouse", {{EV_KEY, BTN_LEFT}, {EV_REL, REL_X}}, InputDeviceKind::Pointer},
        {"wheel", {{EV_REL, REL_WHEEL}}, InputDeviceKind::Pointer},
        {"Power Button", {{EV_KEY, KEY_POWER}}, InputDeviceKind::Other},
        {"Lid Switch", {{EV_SW, SW_LID}}, InputDeviceKind::Other},
        {VIRTUAL_KEYBOARD_NAME, {{EV_KEY, KEY_LEFTCTRL}, {EV_KEY, KEY_V}}, InputDeviceKind::Other},
    };
    for (const Case& c : cases) {
        const EvdevDevice device(c.name, c.codes);
        EXPECT_EQ(classifyInputDevice(device.device), c.kind) << c.name;
    }
}

// Pipes standing in for the event nodes: each look opens (duplicates) the ones plugged in, and
// plugging one in wakes the monitor as inotify would.
class PipeDevices final : public InputDeviceSource {
  public:
    PipeDevices() : changes_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    // A new keyboard; its events are written to the returned descriptor.
    int plugIn(const std::string& node) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        std::lock_guard lock(mutex_);
        present_.push_back({"/dev/input/" + node, UniqueFd(fds[0]), UniqueFd(fds[1])});
        const std::uint64_t one = 1;
        EXPECT_EQ(::write(changes_.get(), &one, sizeof one), 8);
        return fds[1];
    }
    void unplug(int writer) {
        std::lock_guard lock(mutex_);
        std::erase_if(present_, [writer](const Node& node) { return node.writer.get() == writer; });
    }
    std::vector<std::string> denied;

    InputDeviceScan scan(const std::vector<std::string>& skip) override {
        std::lock_guard lock(mutex_);
        InputDeviceScan result;
        for (const Node& node : present_) {
            if (std::find(skip.begin(), skip.end(), node.path) != skip.end()) continue;
            result.devices.push_back({node.path, "keyboard at " + node.path,
                                      InputDeviceKind::Keyboard,
                                      UniqueFd(::fcntl(node.reader.get(), F_DUPFD_CLOEXEC, 0))});
        }
        result.denied = denied;
        return result;
    }
    int changes() override { return changes_.get(); }
    void drainChanges() override {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(changes_.get(), &count, sizeof count);
    }
    std::vector<std::uint16_t> heldKeys(int) override { return {}; }

  private:
    struct Node {
        std::string path;
        UniqueFd reader;
        UniqueFd writer;
    };
    std::mutex mutex_;
    std::vector<Node> present_;
    UniqueFd changes_;
};

class EvdevMonitor : public testing::Test {
  protected:
    void write(int fd, const std::vector<std::vector<Record>>& parts) {
        const std::string bytes = stream(parts);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    bool receive(std::size_t count) {
        return test::waitUntil([&] {
            defaultRunLoop().runFor(0.01);
            return received.size() >= count;
        });
    }

    std::shared_ptr<PipeDevices> devices = std::make_shared<PipeDevices>();
    EvdevKeyMonitor monitor{devices};
    std::vector<InputEvent> received;
};

TEST_F(EvdevMonitor, SaysWhatToDoThenReadsEveryKeyboardAndReleasesWhatAnUnpluggedOneHeld) {
    // Keyboards it may not read: untrusted, and the words say how to change that.
    devices->denied = {"/dev/input/event3"};
    EXPECT_FALSE(monitor.isTrusted(true));
    const std::string help = monitor.accessHelp();
    EXPECT_NE(help.find("sudo usermod -aG input"), std::string::npos) << help;
    // The rule it names is there: installed, or in the source.
    const std::string rule = inputUdevRule();
    EXPECT_NE(help.find(rule), std::string::npos) << help;
    EXPECT_TRUE(pathExists(rule.front() == '/' ? rule : std::string(VAK_SOURCE_DIR) + "/" + rule))
        << rule;
    EXPECT_FALSE(monitor.start([](const InputEvent&) {}));

    const int keyboard = devices->plugIn("event4");
    ASSERT_TRUE(monitor.isTrusted(false));
    EXPECT_EQ(monitor.accessHelp(), "");
    ASSERT_TRUE(monitor.start([this](const InputEvent& event) { received.push_back(event); }));
    write(keyboard, {down(KEY_RIGHTMETA), up(KEY_RIGHTMETA), down(KEY_LEFTALT)});
    ASSERT_TRUE(receive(3));
    EXPECT_EQ(monitor.heldFlags(), kLeftAlt);

    // A keyboard plugged in later is read too.
    const int later = devices->plugIn("event9");
    write(later, {down(KEY_ESC)});
    ASSERT_TRUE(receive(4));
    EXPECT_EQ(received[3], keyDown(ESCAPE_KEY_CODE, kLeftAlt));

    // The first keyboard goes away with Left Alt down: it is released.
    devices->unplug(keyboard);
    ASSERT_TRUE(receive(5));
    EXPECT_EQ(received[4], flagsChanged(58, 0));
    EXPECT_EQ(monitor.heldFlags(), 0u);
}

// ---- The virtual keyboard, through the layer that issues its calls

// Records what the virtual keyboard writes; every device made shares it.
struct UinputCalls {
    std::vector<Record> written;
    int created = 0;
    bool refuse = false;
};

struct RecordingUinput final : UinputDevice {
    explicit RecordingUinput(std::shared_ptr<UinputCalls> c) : calls(std::move(c)) {}
    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        calls->written.push_back({type, code, value});
        return true;
    }
    std::shared_ptr<UinputCalls> calls;
};

class VirtualKeyboard : public testing::Test {
  protected:
    // The key changes written, without the reports after each.
    std::vector<std::pair<std::uint16_t, std::int32_t>> keys() const {
        std::vector<std::pair<std::uint16_t, std::int32_t>> result;
        for (std::size_t i = 0; i < calls->written.size(); ++i) {
            const Record& r = calls->written[i];
            if (r.type != EV_KEY) continue;
            result.emplace_back(r.code, r.value);
            // Every change is reported on its own, as a keyboard does.
            const bool reported = i + 1 < calls->written.size() &&
                                  calls->written[i + 1].type == EV_SYN &&
                                  calls->written[i + 1].code == SYN_REPORT;
            EXPECT_TRUE(reported) << r.code;
        }
        return result;
    }

    std::shared_ptr<UinputCalls> calls = std::make_shared<UinputCalls>();
    std::vector<std::uint64_t> held; // the user's modifiers at each look
    std::size_t looks = 0;
    double slept = 0;
    UinputKeySynth synth{
        [calls = calls](std::string* error) -> std::unique_ptr<UinputDevice> {
            ++calls->created;
            if (calls->refuse) {
                *error = "no permission to write /dev/uinput";
                return nullptr;
            }
            return std::make_unique<RecordingUinput>(calls);
        },
        [this] { return held.empty() ? 0 : held[std::min(looks++, held.size() - 1)]; },
        [this](double seconds) { slept += seconds; }};
};

TEST_F(VirtualKeyboard, TypesTheShortcutOfTheApplicationWithOneDevice) {
    ASSERT_TRUE(synth.send(pasteStyleFor("foot").paste));
    EXPECT_EQ(keys(), (std::vector<std::pair<std::uint16_t, std::int32_t>>{{KEY_LEFTCTRL, 1},
                                                                           {KEY_LEFTSHIFT, 1},
                                                                           {KEY_V, 1},
                                                                           {KEY_V, 0},
                                                                           {KEY_LEFTSHIFT, 0},
                                                                           {KEY_LEFTCTRL, 0}}));
    // The compositor is given its moment to find the new keyboard, once.
    EXPECT_NEAR(slept, 0.3, 0.05);
    calls->written.clear();
    ASSERT_TRUE(synth.send(*pasteStyleFor("org.gnome.texteditor").copy));
    EXPECT_EQ(keys(), (std::vector<std::pair<std::uint16_t, std::int32_t>>{
                          {KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}}));
    EXPECT_EQ(calls->created, 1);
    EXPECT_NEAR(slept, 0.3, 0.05);
}

TEST_F(VirtualKeyboard, WaitsForTheUsersModifiersButNotForever) {
    held = {OPTION_MASK | 0x0020, OPTION_MASK | 0x0020, 0};
    ASSERT_TRUE(synth.send(*STANDARD_PASTE_STYLE.copy));
    EXPECT_EQ(looks, 3u);
    EXPECT_NEAR(slept, 0.3 + 2 * 0.01, 0.05); // the settling, then two waits for Alt
    EXPECT_EQ(keys().size(), 4u);

    held = {OPTION_MASK | 0x0020}; // never let go
    slept = 0;
    ASSERT_TRUE(synth.send(*STANDARD_PASTE_STYLE.copy));
    EXPECT_NEAR(slept, 0.5, 0.011);
    EXPECT_EQ(keys().size(), 8u);
}

TEST_F(VirtualKeyboard, WithoutUinputNothingIsSentAndTheReasonKept) {
    calls->refuse = true;
    EXPECT_FALSE(synth.available());
    EXPECT_EQ(synth.why(), "no permission to write /dev/uinput");
    EXPECT_FALSE(synth.send(STANDARD_PASTE_STYLE.paste));
    EXPECT_TRUE(calls->written.empty());
}

TEST(Uinput, WithoutTheDeviceNodeCreationFailsCleanly) {
    if (::access("/dev/uinput", W_OK) == 0) GTEST_SKIP() << "/dev/uinput is writable here";
    std::string error;
    EXPECT_EQ(createUinputKeyboard(&error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace vak
