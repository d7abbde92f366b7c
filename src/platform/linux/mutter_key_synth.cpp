#include "platform/linux/mutter_key_synth.h"

#include "base/files.h"
#include "platform/linux/key_translation.h"
#include "platform/linux/session_bus.h"
#include "platform/linux/xcb_connection.h"

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <thread>
#include <utility>
#include <vector>

#include <gio/gio.h>

namespace vak {

namespace {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kMutterPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
// mutter answers within milliseconds; a bus that does not is not waited for.
constexpr int kMutterCallTimeoutMs = 2000;
constexpr std::chrono::milliseconds kKeyboardSettle{300};

} // namespace

struct MutterKeySynth::Bus {
    GDBusConnection* connection = nullptr;
    std::string session; // the started session's object path; empty while there is none

    ~Bus() {
        if (connection == nullptr) return;
        if (!session.empty()) {
            g_dbus_connection_call_sync(connection, kService, session.c_str(), kSessionInterface,
                                        "Stop", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                        kMutterCallTimeoutMs, nullptr, nullptr);
        }
        g_object_unref(connection);
    }

    // Calls `method` with `parameters` (floating, consumed); the reply, or nothing with `why`.
    GVariant* call(const std::string& path, const char* interface, const char* method,
                   GVariant* parameters, const char* replyType, std::string* why) const {
        return callBus(connection, kService, path.c_str(), interface, method, parameters, replyType,
                       kMutterCallTimeoutMs, why);
    }
};

MutterKeySynth::MutterKeySynth() = default;

MutterKeySynth::~MutterKeySynth() = default;

bool MutterKeySynth::ensureSession() {
    if (bus_ && !bus_->session.empty() && !g_dbus_connection_is_closed(bus_->connection))
        return true;
    bus_.reset();
    // A connection of our own: mutter ties the session to it, so it must outlive the session
    // and no one else's use of the shared bus may end it.
    GDBusConnection* connection = openSessionBus(&why_);
    if (connection == nullptr) return false;
    auto bus = std::make_unique<Bus>();
    bus->connection = connection;
    GVariant* created = bus->call(kMutterPath, kService, "CreateSession", nullptr, "(o)", &why_);
    if (created == nullptr) return false;
    const gchar* path = nullptr;
    g_variant_get(created, "(&o)", &path);
    const std::string session = path;
    g_variant_unref(created);
    GVariant* started = bus->call(session, kSessionInterface, "Start", nullptr, nullptr, &why_);
    if (started == nullptr) return false;
    g_variant_unref(started);
    bus->session = session;
    // The session's keyboard joins the seat with its first event, which no window gets: a tap
    // of Shift, then a moment for the focused window to learn of the keyboard.
    for (const bool pressed : {true, false}) {
        GVariant* reply = bus->call(
            session, kSessionInterface, "NotifyKeyboardKeysym",
            g_variant_new("(ub)", keysym::Shift_L, static_cast<gboolean>(pressed)), nullptr, &why_);
        if (reply == nullptr) return false;
        g_variant_unref(reply);
    }
    std::this_thread::sleep_for(kKeyboardSettle);
    bus_ = std::move(bus);
    why_.clear();
    return true;
}

bool MutterKeySynth::available() {
    std::lock_guard lock(mutex_);
    return ensureSession();
}

bool MutterKeySynth::send(const KeyChord& chord) {
    std::lock_guard lock(mutex_);
    // A session mutter has ended (a restart of the shell) is made again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ensureSession()) return false;
        std::vector<std::uint32_t> keys;
        if (chord.control) keys.push_back(keysym::Control_L);
        if (chord.shift) keys.push_back(keysym::Shift_L);
        if (chord.alt) keys.push_back(keysym::Alt_L);
        if (chord.command) keys.push_back(keysym::Super_L);
        keys.push_back(keysymForChordKey(chord.key));
        bool ok = true;
        const auto key = [&](std::uint32_t sym, bool pressed) {
            if (!ok) return;
            GVariant* reply =
                bus_->call(bus_->session, kSessionInterface, "NotifyKeyboardKeysym",
                           g_variant_new("(ub)", sym, pressed ? TRUE : FALSE), nullptr, &why_);
            ok = reply != nullptr;
            if (reply != nullptr) g_variant_unref(reply);
        };
        for (const std::uint32_t sym : keys)
            key(sym, true);
        for (auto it = keys.rbegin(); it != keys.rend(); ++it)
            key(*it, false);
        if (ok) return true;
        bus_.reset();
    }
    return false;
}

} // namespace vak
