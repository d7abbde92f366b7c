#include "platform/linux/atspi_frontmost_app.h"

#include "base/environment.h"
#include "base/files.h"
#include "base/unicode.h"
#include "platform/linux/session_bus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <atspi/atspi.h>
#include <gio/gio.h>

namespace vak {

namespace {

// Each call is a round trip to another program; one that hangs is not waited for.
constexpr int kAtspiCallTimeoutMs = 500;
constexpr int kStartupTimeoutMs = 1000;
// More applications or windows than this are not a real desktop's.
constexpr int kMaxChildren = 256;

struct Unref {
    void operator()(void* object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, Unref>;
using StateSet = std::unique_ptr<AtspiStateSet, Unref>;

Accessible childAt(AtspiAccessible* parent, int index) {
    GError* error = nullptr;
    Accessible child(atspi_accessible_get_child_at_index(parent, index, &error));
    if (error != nullptr) g_error_free(error);
    return child;
}

int childCount(AtspiAccessible* parent) {
    GError* error = nullptr;
    const int count = atspi_accessible_get_child_count(parent, &error);
    if (error != nullptr) {
        g_error_free(error);
        return -1;
    }
    return std::min(count, kMaxChildren);
}

bool isActive(AtspiAccessible* window) {
    const StateSet states(atspi_accessible_get_state_set(window));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
}

std::string nameOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(accessible, &error);
    if (error != nullptr) g_error_free(error);
    std::string result = name != nullptr ? name : "";
    g_free(name);
    return result;
}

// The accessibility bus's address: the one the session gives (AT_SPI_BUS_ADDRESS), else what
// its launcher on the session bus says. Empty when neither answers in time.
std::string accessibilityBusAddress() {
    if (auto given = envValue(Env::AccessibilityBus)) return *given;
    if (!haveSessionBus()) return {};
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return {};
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kStartupTimeoutMs, nullptr, nullptr);
    g_object_unref(bus);
    if (reply == nullptr) return {};
    const gchar* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    std::string result = address != nullptr ? address : "";
    g_variant_unref(reply);
    return result;
}

// Whether a connection to the bus at `address` is made, and the bus greets it, in time: a bus
// that takes the connection and never answers would hold atspi_init() for good.
bool busAnswers(const std::string& address) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GCancellable* cancellable = g_cancellable_new();
    struct Outcome {
        bool done = false;
        GDBusConnection* connection = nullptr;
    } outcome;
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable,
        [](GObject*, GAsyncResult* result, gpointer data) {
            auto* o = static_cast<Outcome*>(data);
            o->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
            o->done = true;
        },
        &outcome);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartupTimeoutMs);
    while (!outcome.done) {
        if (std::chrono::steady_clock::now() >= deadline) g_cancellable_cancel(cancellable);
        if (!g_main_context_iteration(context, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool answered = outcome.connection != nullptr;
    if (answered) {
        g_dbus_connection_close_sync(outcome.connection, nullptr, nullptr);
        g_object_unref(outcome.connection);
    }
    g_object_unref(cancellable);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return answered;
}

} // namespace

std::shared_ptr<AtspiFrontmostApp> AtspiFrontmostApp::create() {
    // atspi_init() finds and joins the bus with no time limit of its own: the bus is asked first.
    const std::string address = accessibilityBusAddress();
    if (address.empty() || !busAnswers(address)) return nullptr;
    // 0 the first time, 1 when already done; anything else is no bus.
    if (atspi_init() > 1) return nullptr;
    atspi_set_timeout(kAtspiCallTimeoutMs, kStartupTimeoutMs);
    const Accessible desktop(atspi_get_desktop(0));
    if (!desktop || childCount(desktop.get()) < 0) return nullptr;
    return std::shared_ptr<AtspiFrontmostApp>(new AtspiFrontmostApp());
}

FocusedApp AtspiFrontmostApp::focused() {
    const Accessible desktop(atspi_get_desktop(0));
    if (!desktop) return {};
    const int apps = childCount(desktop.get());
    for (int i = 0; i < apps; ++i) {
        const Accessible app = childAt(desktop.get(), i);
        if (!app) continue;
        // States change without our hearing of it: read them afresh.
        atspi_accessible_clear_cache(app.get());
        const int windows = childCount(app.get());
        for (int j = 0; j < windows; ++j) {
            const Accessible window = childAt(app.get(), j);
            if (window && isActive(window.get())) return {true, toLower(nameOf(app.get()))};
        }
    }
    return {};
}

} // namespace vak
