#include "platform/linux/wayland_desktop.h"

#include "base/environment.h"
#include "base/files.h"
#include "base/log.h"
#include "foundation/config.h"
#include "foundation/process_values.h"
#include "platform/frontmost_app.h"
#include "platform/key_monitor.h"
#include "platform/key_synth.h"
#include "platform/linux/atspi_frontmost_app.h"
#include "platform/linux/desktop_backend.h"
#include "platform/linux/evdev_devices.h"
#include "platform/linux/evdev_key_monitor.h"
#include "platform/linux/input_access.h"
#include "platform/linux/kwin_frontmost_app.h"
#include "platform/linux/kwin_key_synth.h"
#include "platform/linux/mutter_key_synth.h"
#include "platform/linux/portal_shortcuts.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/sway_ipc.h"
#include "platform/linux/uinput_key_synth.h"
#include "platform/linux/wayland_client.h"
#include "platform/linux/wayland_clipboard.h"
#include "platform/linux/wayland_toplevels.h"
#include "platform/linux/wtype_key_synth.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xtest_key_synth.h"
#include "platform/panel_placement.h"
#include "platform/pasteboard.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace vak {

namespace {

constexpr const char* kVirtualKeyboard = "zwp_virtual_keyboard_manager_v1";

bool haveX11() {
    return envValue(Env::Display).has_value();
}

// One line per service: which backend serves it and why; a warning when it serves only part of
// what it should.
void report(std::string_view service, std::string_view backend, std::string_view why,
            bool partial = false) {
    log(partial ? LogLevel::warning : LogLevel::info,
        std::string(service) + ": " + std::string(backend) + " — " + std::string(why));
}

// The first of its synthesisers that can send: a virtual keyboard that becomes writable later
// (the udev rule installed while the program runs) takes over from XTest from then on. The
// candidates that reach every window come first, so the one that sends is one that reaches.
class FirstWorkingKeySynth final : public KeySynth {
  public:
    explicit FirstWorkingKeySynth(std::vector<std::shared_ptr<KeySynth>> candidates)
        : candidates_(std::move(candidates)) {}
    bool send(const KeyChord& chord) override {
        for (const auto& candidate : candidates_) {
            if (candidate->send(chord)) return true;
        }
        return false;
    }
    bool reaches(const FocusedApp& focus) override {
        for (const auto& candidate : candidates_) {
            if (candidate->reaches(focus)) return true;
        }
        return false;
    }
    double leadSeconds() override {
        double lead = 0;
        for (const auto& candidate : candidates_)
            lead = std::max(lead, candidate->leadSeconds());
        return lead;
    }

  private:
    std::vector<std::shared_ptr<KeySynth>> candidates_;
};

// A frontmost query that cannot tell native windows from XWayland's, completed by XWayland: an
// X11 window it names active is one (the compositor clears XWayland's active window whenever a
// native one takes the focus), and names the application where the query could not.
class XWaylandTellsX11 final : public FrontmostApp {
  public:
    explicit XWaylandTellsX11(std::shared_ptr<FrontmostApp> inner) : inner_(std::move(inner)) {}
    FocusedApp focused() override {
        FocusedApp app = inner_->focused();
        if (!app.anyWindow || app.protocol != WindowProtocol::Unknown) return app;
        const FocusedApp x11 = x11_.focused();
        if (x11.protocol == WindowProtocol::X11) {
            app.protocol = WindowProtocol::X11;
            if (app.identifier.empty()) app.identifier = x11.identifier;
        }
        return app;
    }

  private:
    std::shared_ptr<FrontmostApp> inner_;
    XWaylandFrontmostApp x11_;
};

// The keyboards under /dev/input while they can be read; else the desktop's GlobalShortcuts
// portal, where it has one: chords the desktop watches instead of the key.
class KeyboardsOrPortal final : public KeyMonitor {
  public:
    KeyboardsOrPortal(std::shared_ptr<EvdevKeyMonitor> keyboards,
                      std::shared_ptr<PortalShortcutMonitor> portal)
        : keyboards_(std::move(keyboards)), portal_(std::move(portal)) {}
    bool isTrusted(bool prompt) override {
        if (keyboards_->isTrusted(prompt)) return true;
        if (!portalRefused_ && portal_->isTrusted(false)) return true;
        // Once: why the desktop cannot watch chords for us either.
        if (!whyLogged_) log(LogLevel::info, "GlobalShortcuts portal: " + portal_->why());
        whyLogged_ = true;
        return false;
    }
    bool secureInputActive() override { return false; }
    bool start(InputEventHandler handler) override {
        if (keyboards_->isTrusted(false)) return keyboards_->start(std::move(handler));
        if (!portalRefused_ && portal_->start(std::move(handler))) {
            if (!startLogged_) {
                report("key monitor",
                       "the GlobalShortcuts portal (version " + std::to_string(portal_->version()) +
                           "): " + portal_->triggers(),
                       "no keyboard under /dev/input can be read; the desktop watches the chords");
            }
            startLogged_ = true;
            return true;
        }
        // A portal that refused is not asked again: the key waits for /dev/input.
        log(LogLevel::warning, "GlobalShortcuts portal: " + portal_->why());
        portalRefused_ = true;
        return false;
    }
    std::string accessHelp() override { return keyboards_->accessHelp(); }
    std::string accessName() override {
        return keyboards_->isTrusted(false) || portalRefused_ || !portal_->isTrusted(false)
                   ? keyboards_->accessName()
                   : portal_->accessName();
    }

  private:
    std::shared_ptr<EvdevKeyMonitor> keyboards_;
    std::shared_ptr<PortalShortcutMonitor> portal_;
    bool whyLogged_ = false;
    bool startLogged_ = false;
    bool portalRefused_ = false;
};

void chooseKeySynth(const std::shared_ptr<WaylandClient>& client,
                    const std::shared_ptr<EvdevKeyMonitor>& monitor) {
    constexpr std::string_view service = "synthetic paste and copy";
    std::vector<std::shared_ptr<KeySynth>> candidates;
    const std::string wtype = _which("wtype");
    const bool protocol = client && client->offers(kVirtualKeyboard);
    if (protocol && isExecutableFile(wtype))
        candidates.push_back(std::make_shared<WtypeKeySynth>(wtype));
    // KDE Plasma: KWin's fake input, offered to the program its desktop entry names.
    std::string kwinWhy;
    const bool kwin = client && isKwin(*client);
    auto fakeInput = kwin ? KwinKeySynth::create(client, &kwinWhy) : nullptr;
    if (fakeInput) candidates.push_back(fakeInput);
    // GNOME: mutter's remote-desktop keyboard, which asks nothing of the user.
    auto mutter = std::make_shared<MutterKeySynth>();
    const bool mutterServes = !protocol && !kwin && mutter->available();
    if (mutterServes) candidates.push_back(mutter);
    auto uinput = std::make_shared<UinputKeySynth>(
        createUinputKeyboard, [monitor] { return monitor->heldFlags(); },
        [](double seconds) { std::this_thread::sleep_for(durationFromSeconds(seconds)); });
    candidates.push_back(uinput);
    if (haveX11()) candidates.push_back(std::make_shared<XTestKeySynth>(true));
    installKeySynth(std::make_shared<FirstWorkingKeySynth>(candidates));

    if (protocol && isExecutableFile(wtype))
        return report(service, "wtype", "the compositor offers its virtual-keyboard protocol");
    if (fakeInput) {
        return report(service, "KWin's fake-input keyboard",
                      "KWin offers it to the program its desktop entry names, with no prompt");
    }
    if (mutterServes) {
        return report(service, "mutter's remote-desktop keyboard",
                      "GNOME offers it on the session bus, with no prompt");
    }
    const std::string noWtype = protocol ? "wtype is not installed (Debian package wtype)"
                                : kwin   ? kwinWhy
                                         : "the compositor has no virtual-keyboard protocol";
    if (uinput->available())
        return report(service, "kernel virtual keyboard (/dev/uinput)", noWtype);
    const std::string neither = noWtype + "; " + uinput->why() + " (" + inputAccessHelp() + ")";
    if (haveX11())
        return report(service, "XTest through XWayland, which reaches X11 windows only", neither,
                      true);
    return report(service, "none, nothing can be pasted", neither, true);
}

void chooseClipboard(const std::shared_ptr<WaylandClient>& client) {
    constexpr std::string_view service = "clipboard";
    // The terminals that paste the selected text (xterm, rxvt) are X11 programs: their PRIMARY
    // is XWayland's.
    if (haveX11())
        installPrimarySelection(std::make_shared<QtPasteboard>(QtPasteboard::Selection::Primary));
    if (auto board = DataControlPasteboard::create(client)) {
        installPasteboard(board);
        return report(service, "data control", "it serves a program without the keyboard focus");
    }
    installPasteboard(std::make_shared<QtPasteboard>());
    if (haveX11()) {
        return report(service, "Qt's X11 clipboard through XWayland",
                      "the compositor offers no data control");
    }
    return report(service,
                  "Qt's Wayland clipboard, which the compositor may refuse a program "
                  "without the keyboard focus",
                  "no data control and no XWayland", true);
}

// sway's IPC, when this is sway and it answers: $SWAYSOCK, else (started by systemd, which
// sway does not tell) the socket sway makes in the runtime folder, sway-ipc.UID.PID.sock.
std::shared_ptr<SwayIpc> swayIpc() {
    std::vector<std::string> candidates;
    if (const auto socket = envValue(Env::SwaySocket)) {
        candidates.push_back(*socket);
    } else if (const auto runtime = envValue(Env::RuntimeDir)) {
        const std::string prefix = "sway-ipc." + std::to_string(::getuid()) + ".";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(*runtime, error)) {
            const std::string name = entry.path().filename();
            if (name.rfind(prefix, 0) == 0 && entry.is_socket(error))
                candidates.push_back(entry.path());
        }
    }
    for (const std::string& socket : candidates) {
        auto ipc = std::make_shared<SwayIpc>(socket);
        if (ipc->request(SwayIpc::GET_TREE, {})) return ipc;
    }
    return nullptr;
}

void chooseFrontmost(const std::shared_ptr<WaylandClient>& client,
                     const std::shared_ptr<SwayIpc>& sway) {
    constexpr std::string_view service = "frontmost application";
    if (sway) {
        installFrontmostApp(std::make_shared<SwayFrontmostApp>(sway));
        return report(service, "sway's IPC", "sway answers on its socket");
    }
    if (auto toplevels = ForeignToplevelApp::create(client)) {
        if (haveX11()) {
            installFrontmostApp(std::make_shared<XWaylandTellsX11>(toplevels));
        } else {
            installFrontmostApp(toplevels);
        }
        return report(service, "foreign toplevel management", "the compositor offers it");
    }
    std::string kwinWhy;
    if (auto kwin = client && isKwin(*client) ? KwinFrontmostApp::create(&kwinWhy) : nullptr) {
        if (haveX11()) {
            installFrontmostApp(std::make_shared<XWaylandTellsX11>(kwin));
        } else {
            installFrontmostApp(kwin);
        }
        return report(service, "a KWin script", "KWin tells it which window is active");
    }
    if (auto accessible = kwinWhy.empty() ? AtspiFrontmostApp::create() : nullptr) {
        if (haveX11()) {
            installFrontmostApp(std::make_shared<XWaylandTellsX11>(accessible));
        } else {
            installFrontmostApp(accessible);
        }
        return report(service, "the accessibility bus (AT-SPI)",
                      "the compositor tells no program which window is active; programs that "
                      "take no part in accessibility (Qt ones unless it is on) stay unknown",
                      true);
    }
    const std::string why = (kwinWhy.empty() ? "the compositor tells no program which window is "
                                               "active"
                                             : "KWin's script: " + kwinWhy) +
                            " (mode memory then uses no application)";
    if (haveX11()) {
        installFrontmostApp(std::make_shared<XWaylandFrontmostApp>());
        return report(service, "XWayland's active window, X11 windows only", why, true);
    }
    return report(service, "unknown", why, true);
}

void choosePlacement(const std::shared_ptr<SwayIpc>& sway) {
    constexpr std::string_view service = "floating panels";
    if (sway) {
        installPanelPlacement(std::make_shared<SwayPanelPlacement>(sway));
        return report(service, "sway rules and moves through its IPC",
                      "sway tiles, focuses and centres new windows whatever they ask for");
    }
    if (haveX11()) {
        return report(service, "their own X11 hints through XWayland",
                      "the window manager keeps them above the others, without the focus");
    }
    return report(service, "placed by the compositor",
                  "Wayland lets no program place its windows or keep them above others", true);
}

} // namespace

void installWaylandDesktop(const DesktopChoice& choice, const Config& config) {
    std::string error;
    const auto client = WaylandClient::connect(&error);
    if (!client) log(LogLevel::warning, "Wayland compositor: " + error);

    auto monitor =
        std::make_shared<EvdevKeyMonitor>(std::shared_ptr<InputDeviceSource>(makeDevInputSource()));
    installKeyMonitor(std::make_shared<KeyboardsOrPortal>(
        monitor, std::make_shared<PortalShortcutMonitor>(config.hotkey, config.shortcutChord)));
    report("key monitor", "the keyboards under /dev/input, else the GlobalShortcuts portal",
           choice.why);
    chooseKeySynth(client, monitor);
    chooseClipboard(client);
    const auto sway = swayIpc();
    chooseFrontmost(client, sway);
    choosePlacement(sway);
}

} // namespace vak
