#include "platform/linux/session_bus.h"

#include "base/environment.h"
#include "base/files.h"

namespace vak {

bool haveSessionBus() {
    const auto runtime = envValue(Env::RuntimeDir);
    return envValue(Env::SessionBus) || (runtime && pathExists(*runtime + "/bus"));
}

GDBusConnection* openSessionBus(std::string* why) {
    if (!haveSessionBus()) {
        *why = "no session bus";
        return nullptr;
    }
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    GDBusConnection* connection =
        address == nullptr
            ? nullptr
            : g_dbus_connection_new_for_address_sync(
                  address,
                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                  nullptr, nullptr, &error);
    g_free(address);
    if (connection == nullptr) {
        *why = std::string("no session bus: ") + (error != nullptr ? error->message : "");
        if (error != nullptr) g_error_free(error);
        return nullptr;
    }
    // Our own ending is not the process's.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return connection;
}

GVariant* callBus(GDBusConnection* connection, const char* service, const char* path,
                  const char* interface, const char* method, GVariant* parameters,
                  const char* replyType, int timeoutMs, std::string* why) {
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(connection, service, path, interface, method, parameters,
                                    replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    if (reply == nullptr && why != nullptr)
        *why = std::string(method) + ": " + (error != nullptr ? error->message : "no reply");
    if (error != nullptr) g_error_free(error);
    return reply;
}

} // namespace vak
