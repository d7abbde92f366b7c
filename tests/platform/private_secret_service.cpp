#include "platform/private_secret_service.h"

#include "base/files.h"
#include "base/time_util.h"
#include "foundation/process_values.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gio/gio.h>

namespace vak::test {

namespace {

// Nothing in the test suite keeps the daemons longer than this.
constexpr double kDaemonLifetimeSeconds = 600;
constexpr double kStartSeconds = 15;
constexpr const char* kPassword = "vak-test-keyring-password";

GDBusConnection* connectTo(const std::string& address) {
    const auto flags =
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GError* error = nullptr;
    GDBusConnection* connection =
        g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, &error);
    if (error != nullptr) g_error_free(error);
    return connection;
}

// Calls a method and returns its reply, or nothing on any error.
GVariant* call(GDBusConnection* connection, const char* destination, const char* path,
               const char* interface, const char* method, GVariant* parameters,
               const char* replyType) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, destination, path, interface, method, parameters, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, &error);
    if (error != nullptr) g_error_free(error);
    return reply;
}

// True once the keyring answers on the bus and its default collection is in place.
bool keyringReady(GDBusConnection* connection) {
    GVariant* owned =
        call(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), "(b)");
    if (owned == nullptr) return false;
    gboolean hasOwner = FALSE;
    g_variant_get(owned, "(b)", &hasOwner);
    g_variant_unref(owned);
    if (hasOwner == FALSE) return false;
    GVariant* alias =
        call(connection, "org.freedesktop.secrets", "/org/freedesktop/secrets",
             "org.freedesktop.Secret.Service", "ReadAlias", g_variant_new("(s)", "default"), "(o)");
    if (alias == nullptr) return false;
    const gchar* path = nullptr;
    g_variant_get(alias, "(&o)", &path);
    const bool ready = path != nullptr && std::string(path) != "/";
    g_variant_unref(alias);
    return ready;
}

template <class Ready>
bool waitFor(Subprocess& child, Ready ready) {
    const auto deadline = deadlineAfter(kStartSeconds);
    while (SteadyClock::now() < deadline) {
        if (ready()) return true;
        if (child.hasExited()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace

PrivateSecretService::Outcome PrivateSecretService::start() {
    Outcome outcome;
    const std::string dbusDaemon = _which("dbus-daemon");
    const std::string keyringDaemon = _which("gnome-keyring-daemon");
    for (const auto& program : {dbusDaemon, keyringDaemon}) {
        if (!isExecutableFile(program)) {
            outcome.canRun = false;
            outcome.problem =
                "no Secret Service can run here: " + program.substr(program.rfind('/') + 1) +
                " is not installed (Debian packages dbus-daemon and gnome-keyring)";
            return outcome;
        }
    }
    std::unique_ptr<PrivateSecretService> service(new PrivateSecretService());
    outcome.problem = service->launch(dbusDaemon, keyringDaemon);
    if (outcome.problem.empty()) outcome.service = std::move(service);
    return outcome;
}

std::string PrivateSecretService::launch(const std::string& dbusDaemon,
                                         const std::string& keyringDaemon) {
    const std::string socket = root_.file("bus");
    const std::string address = "unix:path=" + socket;
    const std::string config = root_.file("bus.conf");
    // No service folders: nothing is started on demand, so only our keyring can answer.
    writeFixture(
        config,
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>" +
            address +
            "</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n");
    for (const char* folder : {"run", "data", "config", "cache"})
        makeDirectories(root_.file(folder), 0700);

    // Everything that could lead to the user's own session or keyring goes.
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root_.file("run").c_str(), 1);
    setenv("XDG_DATA_HOME", root_.file("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", root_.file("config").c_str(), 1);
    setenv("XDG_CACHE_HOME", root_.file("cache").c_str(), 1);
    for (const char* name : {"GNOME_KEYRING_CONTROL", "DISPLAY", "WAYLAND_DISPLAY", "SSH_AUTH_SOCK",
                             "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"})
        unsetenv(name);

    std::string error;
    SpawnOptions busOptions;
    busOptions.argv = {VAK_TETHERED, dbusDaemon, "--config-file=" + config, "--nofork",
                       "--nosyslog"};
    bus_ = Subprocess::spawn(busOptions, &error);
    if (!bus_) return "could not start dbus-daemon: " + error;
    busWatchdog_ = armWatchdog(bus_, kDaemonLifetimeSeconds, 1);

    if (!waitFor(*bus_, [&] {
            if (pathExists(socket)) connection_.reset(connectTo(address));
            return connection_ != nullptr;
        }))
        return "the private D-Bus session did not come up";

    SpawnOptions keyringOptions;
    keyringOptions.argv = {VAK_TETHERED, keyringDaemon, "--foreground", "--unlock",
                           "--components=secrets"};
    keyringOptions.pipeStdin = true;
    keyring_ = Subprocess::spawn(keyringOptions, &error);
    if (!keyring_) return "could not start gnome-keyring-daemon: " + error;
    keyringWatchdog_ = armWatchdog(keyring_, kDaemonLifetimeSeconds, 1);
    // The password creates and unlocks the login keyring; the daemon reads up to end of input.
    keyring_->writeStdin(kPassword);
    keyring_->closeStdin();

    if (!waitFor(*keyring_, [&] { return keyringReady(connection_.get()); }))
        return "gnome-keyring-daemon did not offer an unlocked keyring on the private bus";
    return {};
}

void PrivateSecretService::ConnectionCloser::operator()(GDBusConnection* connection) const {
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
}

std::optional<std::vector<std::string>>
PrivateSecretService::secretsWith(const std::map<std::string, std::string>& attributes) const {
    constexpr const char* kSecrets = "org.freedesktop.secrets";
    constexpr const char* kServicePath = "/org/freedesktop/secrets";
    constexpr const char* kService = "org.freedesktop.Secret.Service";
    GVariantBuilder query;
    g_variant_builder_init(&query, G_VARIANT_TYPE("a{ss}"));
    for (const auto& [name, value] : attributes)
        g_variant_builder_add(&query, "{ss}", name.c_str(), value.c_str());
    GVariant* found = call(connection_.get(), kSecrets, kServicePath, kService, "SearchItems",
                           g_variant_new("(a{ss})", &query), "(aoao)");
    if (found == nullptr) return std::nullopt;
    GVariant* unlocked = g_variant_get_child_value(found, 0);
    g_variant_unref(found);

    // A session without transport encryption: the bus is private to this test.
    GVariant* opened = call(connection_.get(), kSecrets, kServicePath, kService, "OpenSession",
                            g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)");
    if (opened == nullptr) {
        g_variant_unref(unlocked);
        return std::nullopt;
    }
    const gchar* sessionPath = nullptr;
    GVariant* output = nullptr;
    g_variant_get(opened, "(v&o)", &output, &sessionPath);
    const std::string session = sessionPath;
    g_variant_unref(output);
    g_variant_unref(opened);

    GVariant* secrets = call(connection_.get(), kSecrets, kServicePath, kService, "GetSecrets",
                             g_variant_new("(@aoo)", unlocked, session.c_str()), "(a{o(oayays)})");
    GVariant* closed = call(connection_.get(), kSecrets, session.c_str(),
                            "org.freedesktop.Secret.Session", "Close", nullptr, "()");
    if (closed != nullptr) g_variant_unref(closed);
    if (secrets == nullptr) return std::nullopt;

    std::vector<std::string> result;
    GVariant* byItem = g_variant_get_child_value(secrets, 0);
    const gsize count = g_variant_n_children(byItem);
    for (gsize i = 0; i < count; ++i) {
        GVariant* entry = g_variant_get_child_value(byItem, i); // {o(oayays)}
        GVariant* secret = g_variant_get_child_value(entry, 1); // (oayays)
        GVariant* value = g_variant_get_child_value(secret, 2); // ay
        gsize length = 0;
        const auto* bytes =
            static_cast<const char*>(g_variant_get_fixed_array(value, &length, sizeof(guchar)));
        result.emplace_back(bytes != nullptr ? bytes : "", length);
        g_variant_unref(value);
        g_variant_unref(secret);
        g_variant_unref(entry);
    }
    g_variant_unref(byItem);
    g_variant_unref(secrets);
    return result;
}

PrivateSecretService::~PrivateSecretService() {
    connection_.reset(); // while its bus is still there to say goodbye to
    for (auto* child : {&keyring_, &bus_}) {
        if (*child) {
            (*child)->kill();
            (*child)->wait();
        }
    }
    keyringWatchdog_.cancel();
    busWatchdog_.cancel();
}

} // namespace vak::test
