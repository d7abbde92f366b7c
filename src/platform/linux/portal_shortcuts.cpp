#include "platform/linux/portal_shortcuts.h"

#include "base/files.h"
#include "base/main_queue.h"
#include "foundation/trigger_keys.h"
#include "platform/desktop_shortcut.h"
#include "platform/linux/session_bus.h"

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <thread>
#include <tuple>

#include <gio/gio.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kDictation = "dictation";
constexpr const char* kCommand = "command";
constexpr const char* kSessionToken = "vak_dictate";
// A portal answers a call at once; its answer to a request (the session, the binding) comes as
// a signal, which may wait on the desktop's own services.
constexpr int kPortalCallTimeoutMs = 3000;
constexpr std::chrono::seconds kResponseTimeout{10};

std::string errorText(GError* error) {
    std::string text = error != nullptr ? error->message : "no reply";
    if (error != nullptr) g_error_free(error);
    return text;
}

// The trigger as the shortcuts' notation writes it: "LOGO+ALT+space".
std::string portalTrigger(const ShortcutChord& chord) {
    std::string text;
    if (chord.control) text += "CTRL+";
    if (chord.alt) text += "ALT+";
    if (chord.shift) text += "SHIFT+";
    if (chord.super) text += "LOGO+";
    return text + chord.keysym;
}

// The string in `value` whether the portal sends it as a string or an object path.
std::string stringOf(GVariant* value) {
    if (value == nullptr) return {};
    const std::string text = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                                     g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)
                                 ? g_variant_get_string(value, nullptr)
                                 : "";
    g_variant_unref(value);
    return text;
}

} // namespace

// The session: its own connection and main context, on a thread that dispatches the portal's
// signals until the monitor ends.
struct PortalShortcutMonitor::Session {
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* connection = nullptr;
    std::string handle; // the session's object path
    std::string sender; // our unique name as the request paths spell it ("1_42")
    InputEventHandler handler;
    std::uint16_t hotkey = 0;
    std::thread thread;
    unsigned tokens = 0;

    ~Session() {
        if (loop != nullptr) {
            g_main_context_invoke(
                context,
                [](gpointer data) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(data));
                    return G_SOURCE_REMOVE;
                },
                loop);
        }
        if (thread.joinable()) thread.join();
        if (connection != nullptr) {
            if (!handle.empty()) {
                // Closing the session lets the portal drop it at once.
                GVariant* reply = g_dbus_connection_call_sync(
                    connection, kPortal, handle.c_str(), "org.freedesktop.portal.Session", "Close",
                    nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, kPortalCallTimeoutMs, nullptr,
                    nullptr);
                if (reply != nullptr) g_variant_unref(reply);
            }
            g_object_unref(connection);
        }
        if (loop != nullptr) g_main_loop_unref(loop);
        if (context != nullptr) g_main_context_unref(context);
    }

    std::string nextToken() {
        return "vak" + std::to_string(::getpid()) + "_" + std::to_string(++tokens);
    }

    // Calls `method` of the portal, a request whose answer comes as its Response signal, and
    // waits for that answer on this thread's context. The results, or nothing with `why`.
    GVariant* request(const char* method, GVariant* parameters, const std::string& token,
                      std::string* why) {
        const std::string path = std::string(kPortalPath) + "/request/" + sender + "/" + token;
        struct Answer {
            bool done = false;
            guint32 code = 2;
            GVariant* results = nullptr;
        } answer;
        const guint subscription = g_dbus_connection_signal_subscribe(
            connection, kPortal, "org.freedesktop.portal.Request", "Response", path.c_str(),
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* response, gpointer data) {
                auto* a = static_cast<Answer*>(data);
                if (a->done) return;
                g_variant_get(response, "(u@a{sv})", &a->code, &a->results);
                a->done = true;
            },
            &answer, nullptr);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection, kPortal, kPortalPath, kInterface, method, parameters, G_VARIANT_TYPE("(o)"),
            G_DBUS_CALL_FLAGS_NONE, kPortalCallTimeoutMs, nullptr, &error);
        if (reply == nullptr) {
            g_dbus_connection_signal_unsubscribe(connection, subscription);
            *why = std::string(method) + ": " + errorText(error);
            return nullptr;
        }
        g_variant_unref(reply);
        const auto deadline = std::chrono::steady_clock::now() + kResponseTimeout;
        while (!answer.done && std::chrono::steady_clock::now() < deadline) {
            if (!g_main_context_iteration(context, FALSE))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        g_dbus_connection_signal_unsubscribe(connection, subscription);
        if (!answer.done) {
            *why = std::string(method) + ": the portal gave no answer in " +
                   std::to_string(kResponseTimeout.count()) + " s";
            return nullptr;
        }
        if (answer.code != 0) {
            if (answer.results != nullptr) g_variant_unref(answer.results);
            *why = std::string(method) +
                   (answer.code == 1 ? ": refused by the user" : ": refused by the desktop");
            return nullptr;
        }
        return answer.results;
    }

    // A press (or release) of `shortcut`, as the trigger key's.
    void shortcut(const std::string& id, bool pressed) {
        const TriggerKey& key = triggerKey(hotkey);
        InputEvent event;
        event.kind = InputEventKind::FlagsChanged;
        event.keyCode = hotkey;
        if (pressed) {
            event.flags = key.bit | key.mask;
            // Command mode is the trigger with the other Option key.
            if (id == kCommand) event.flags |= OPTION_MASK | (key.code == 58 ? 0x0040 : 0x0020);
        }
        mainQueue().post([handler = handler, event] { handler(event); });
    }
};

PortalShortcutMonitor::PortalShortcutMonitor(std::uint16_t hotkey, std::string chord)
    : hotkey_(hotkey), chord_(std::move(chord)) {}

PortalShortcutMonitor::~PortalShortcutMonitor() = default;

bool PortalShortcutMonitor::isTrusted(bool) {
    if (asked_) return version_ > 0;
    asked_ = true;
    if (!haveSessionBus()) {
        why_ = "no session bus";
        return false;
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        why_ = "no session bus: " + errorText(error);
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kInterface, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        kPortalCallTimeoutMs, nullptr, &error);
    g_object_unref(bus);
    if (reply == nullptr) {
        // A portal still starting (at login, or started by this very call) is asked again at
        // the next poll; one that answers without the interface has none.
        const bool late =
            error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
        if (late) asked_ = false;
        why_ = (late ? "the desktop's portal did not answer in time ("
                     : "the desktop's portal has no GlobalShortcuts (") +
               errorText(error) + ")";
        return false;
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) version_ = g_variant_get_uint32(value);
    g_variant_unref(value);
    g_variant_unref(reply);
    if (version_ == 0) why_ = "the desktop's portal has no GlobalShortcuts";
    return version_ > 0;
}

bool PortalShortcutMonitor::start(InputEventHandler handler) {
    if (session_) {
        session_->handler = std::move(handler);
        return true;
    }
    if (!isTrusted(false)) return false;
    auto session = std::make_unique<Session>();
    session->handler = std::move(handler);
    session->hotkey = hotkey_;
    session->context = g_main_context_new();
    session->loop = g_main_loop_new(session->context, FALSE);
    std::promise<std::string> started;
    auto result = started.get_future();
    Session* s = session.get();
    const std::string chord = chord_;
    session->thread = std::thread([s, chord, &started] {
        g_main_context_push_thread_default(s->context);
        std::string why;
        const auto fail = [&](std::string text) {
            g_main_context_pop_thread_default(s->context);
            started.set_value(text.empty() ? "failed" : std::move(text));
        };
        // A connection of our own: the portal ties the session to it.
        s->connection = openSessionBus(&why);
        if (s->connection == nullptr) return fail(why);
        std::string sender = g_dbus_connection_get_unique_name(s->connection) + 1;
        for (char& c : sender) {
            if (c == '.') c = '_';
        }
        s->sender = sender;

        const auto parsed = parseShortcutChord(chord);
        GVariantBuilder shortcuts;
        g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
        for (const auto& [id, description, shift] :
             {std::tuple{kDictation, "Start or stop dictation (hold to talk)", false},
              std::tuple{kCommand, "Edit the selected text by voice", true}}) {
            GVariantBuilder properties;
            g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
            g_variant_builder_add(&properties, "{sv}", "description",
                                  g_variant_new_string(description));
            if (parsed) {
                ShortcutChord proposed = *parsed;
                proposed.shift = proposed.shift || shift;
                g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                                      g_variant_new_string(portalTrigger(proposed).c_str()));
            }
            g_variant_builder_add(&shortcuts, "(sa{sv})", id, &properties);
        }
        // Given at the session's creation too: Plasma 5.27's portal takes them only there.
        GVariant* wanted = g_variant_ref_sink(g_variant_builder_end(&shortcuts));
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        const std::string token = s->nextToken();
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        // Always the same: Plasma keeps the chords under the session's token for a program
        // that is not sandboxed, so the ones the user changes come back at the next start.
        g_variant_builder_add(&options, "{sv}", "session_handle_token",
                              g_variant_new_string(kSessionToken));
        g_variant_builder_add(&options, "{sv}", "shortcuts", wanted);
        GVariant* created =
            s->request("CreateSession", g_variant_new("(a{sv})", &options), token, &why);
        if (created == nullptr) {
            g_variant_unref(wanted);
            return fail(why);
        }
        s->handle = stringOf(g_variant_lookup_value(created, "session_handle", nullptr));
        g_variant_unref(created);
        if (s->handle.empty()) {
            g_variant_unref(wanted);
            return fail("CreateSession: no session handle");
        }

        GVariantBuilder bindOptions;
        g_variant_builder_init(&bindOptions, G_VARIANT_TYPE_VARDICT);
        const std::string bindToken = s->nextToken();
        g_variant_builder_add(&bindOptions, "{sv}", "handle_token",
                              g_variant_new_string(bindToken.c_str()));
        GVariant* bound = s->request(
            "BindShortcuts",
            g_variant_new("(o@a(sa{sv})sa{sv})", s->handle.c_str(), wanted, "", &bindOptions),
            bindToken, &why);
        g_variant_unref(wanted);
        if (bound == nullptr) return fail(why);
        // The chords the desktop gave, in our order (the portal's is its own).
        std::map<std::string, std::string> given;
        if (GVariant* list =
                g_variant_lookup_value(bound, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"))) {
            GVariantIter iter;
            g_variant_iter_init(&iter, list);
            const gchar* id = nullptr;
            GVariant* properties = nullptr;
            while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
                const gchar* trigger = nullptr;
                if (!g_variant_lookup(properties, "trigger_description", "&s", &trigger))
                    trigger = "";
                given[id] = *trigger != '\0' ? trigger : "(none yet)";
                g_variant_unref(properties);
            }
            g_variant_unref(list);
        }
        g_variant_unref(bound);
        std::string triggers;
        for (const char* id : {kDictation, kCommand}) {
            if (given.contains(id))
                triggers += std::string(triggers.empty() ? "" : ", ") + id + "=" + given[id];
        }

        for (const bool pressed : {true, false}) {
            g_dbus_connection_signal_subscribe(
                s->connection, kPortal, kInterface, pressed ? "Activated" : "Deactivated", kPortalPath,
                nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                pressed ? +[](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GVariant* parameters, gpointer data) {
                    auto* owner = static_cast<Session*>(data);
                    const gchar* handle = nullptr;
                    const gchar* id = nullptr;
                    g_variant_get(parameters, "(&o&sta{sv})", &handle, &id, nullptr, nullptr);
                    if (owner->handle == handle) owner->shortcut(id, true);
                }
                        : +[](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GVariant* parameters, gpointer data) {
                    auto* owner = static_cast<Session*>(data);
                    const gchar* handle = nullptr;
                    const gchar* id = nullptr;
                    g_variant_get(parameters, "(&o&sta{sv})", &handle, &id, nullptr, nullptr);
                    if (owner->handle == handle) owner->shortcut(id, false);
                },
                s, nullptr);
        }
        started.set_value("ok " + triggers);
        g_main_loop_run(s->loop);
        g_main_context_pop_thread_default(s->context);
    });
    std::string outcome = result.get();
    if (outcome.rfind("ok ", 0) != 0) {
        why_ = outcome;
        session.reset();
        return false;
    }
    triggers_ = outcome.substr(3);
    session_ = std::move(session);
    return true;
}

} // namespace vak
