#include "platform/linux/kwin_frontmost_app.h"

#include "base/environment.h"
#include "base/files.h"
#include "base/unicode.h"
#include "platform/linux/session_bus.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include <gio/gio.h>

namespace vak {

namespace {

constexpr const char* kKwin = "org.kde.KWin";
constexpr const char* kScriptingPath = "/Scripting";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kPlugin = "vak-dictate-focus";
constexpr const char* kOurPath = "/com/halden/vak_dictate/Focus";
constexpr const char* kOurInterface = "com.halden.vak_dictate.Focus";
// KWin answers within milliseconds; a bus that does not is not waited for.
constexpr int kKWinCallTimeoutMs = 2000;
constexpr std::chrono::seconds kFirstReport{1};

// Reports the active window, now and at every activation: Plasma 6's names first, then
// Plasma 5's. Every value goes as a string, which callDBus passes on as such.
std::string scriptText(const std::string& ourName) {
    return "function report(w) {\n"
           "    callDBus(\"" +
           ourName + "\", \"" + kOurPath + "\", \"" + kOurInterface +
           "\", \"Active\",\n"
           "             w ? String(w.resourceClass) : \"\", w ? String(w.desktopFileName) : "
           "\"\",\n"
           "             w ? String(w.pid) : \"\", w ? String(w.windowId) : \"\");\n"
           "}\n"
           "(workspace.windowActivated || workspace.clientActivated).connect(report);\n"
           "report(workspace.activeWindow !== undefined ? workspace.activeWindow\n"
           "                                             : workspace.activeClient);\n";
}

struct Report {
    std::string resourceClass;
    std::string desktopFile;
    std::string pid;
    std::string windowId;
};

std::string executableOf(const std::string& pid) {
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) return {};
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/" + pid + "/exe", error);
    return error ? std::string() : exe.filename().string();
}

} // namespace

struct KwinFrontmostApp::Bus {
    GDBusConnection* connection = nullptr;
    guint filter = 0;
    std::string kwinName; // KWin's unique name: only its calls are believed
    std::string scriptPath;
    bool loaded = false;
    std::mutex unloading;
    std::mutex mutex;
    std::condition_variable reported;
    std::optional<Report> last;

    ~Bus() {
        if (connection == nullptr) return;
        unload();
        if (filter != 0) g_dbus_connection_remove_filter(connection, filter);
        // Closing waits for GDBus's thread, which may be in the filter still.
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }

    // The script goes, and its file with it; once.
    void unload() {
        std::lock_guard lock(unloading);
        if (loaded) {
            if (GVariant* reply =
                    call(kScriptingPath, kScripting, "unloadScript", g_variant_new("(s)", kPlugin)))
                g_variant_unref(reply);
        }
        loaded = false;
        if (!scriptPath.empty()) removeFile(scriptPath);
        scriptPath.clear();
    }

    // Calls KWin's `method` with `parameters` (floating, consumed); the reply, or nothing with
    // `why`.
    GVariant* call(const char* path, const char* interface, const char* method,
                   GVariant* parameters, std::string* why = nullptr, const char* service = kKwin) {
        return callBus(connection, service, path, interface, method, parameters, nullptr,
                       kKWinCallTimeoutMs, why);
    }

    // On GDBus's own thread, for every message that comes in: our method is answered here.
    static GDBusMessage* onMessage(GDBusConnection* connection, GDBusMessage* message,
                                   gboolean incoming, gpointer data) {
        auto* bus = static_cast<Bus*>(data);
        if (!incoming ||
            g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
            g_strcmp0(g_dbus_message_get_path(message), kOurPath) != 0 ||
            g_strcmp0(g_dbus_message_get_interface(message), kOurInterface) != 0) {
            return message;
        }
        GVariant* body = g_dbus_message_get_body(message);
        if (g_strcmp0(g_dbus_message_get_sender(message), bus->kwinName.c_str()) == 0 &&
            body != nullptr && g_variant_is_of_type(body, G_VARIANT_TYPE("(ssss)"))) {
            const gchar* fields[4] = {};
            g_variant_get(body, "(&s&s&s&s)", &fields[0], &fields[1], &fields[2], &fields[3]);
            {
                std::lock_guard lock(bus->mutex);
                bus->last = Report{fields[0], fields[1], fields[2], fields[3]};
            }
            bus->reported.notify_all();
        }
        GDBusMessage* reply = g_dbus_message_new_method_reply(message);
        g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                       nullptr);
        g_object_unref(reply);
        g_object_unref(message);
        return nullptr;
    }
};

std::shared_ptr<KwinFrontmostApp> KwinFrontmostApp::create(std::string* why) {
    // The script is handed to KWin as a file in the user's runtime folder.
    const auto runtime = envValue(Env::RuntimeDir);
    if (!runtime) {
        *why = "no XDG_RUNTIME_DIR for the script";
        return nullptr;
    }
    GDBusConnection* connection = openSessionBus(why);
    if (connection == nullptr) return nullptr;
    auto bus = std::make_unique<Bus>();
    bus->connection = connection;

    GVariant* owner = bus->call("/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                                g_variant_new("(s)", kKwin), nullptr, "org.freedesktop.DBus");
    if (owner == nullptr) {
        *why = "KWin is not on the session bus";
        return nullptr;
    }
    const gchar* name = nullptr;
    g_variant_get(owner, "(&s)", &name);
    bus->kwinName = name;
    g_variant_unref(owner);
    bus->filter = g_dbus_connection_add_filter(connection, Bus::onMessage, bus.get(), nullptr);

    bus->scriptPath = *runtime + "/vak-dictate-kwin-focus.js";
    if (!writeFileAtomic(bus->scriptPath,
                         scriptText(g_dbus_connection_get_unique_name(connection)))) {
        *why = "cannot write " + bus->scriptPath;
        bus->scriptPath.clear();
        return nullptr;
    }
    // One a killed daemon left behind would keep calling a name that is gone.
    if (GVariant* gone =
            bus->call(kScriptingPath, kScripting, "unloadScript", g_variant_new("(s)", kPlugin)))
        g_variant_unref(gone);
    GVariant* loaded = bus->call(kScriptingPath, kScripting, "loadScript",
                                 g_variant_new("(ss)", bus->scriptPath.c_str(), kPlugin), why);
    if (loaded == nullptr) return nullptr;
    gint32 id = -1;
    g_variant_get(loaded, "(i)", &id);
    g_variant_unref(loaded);
    if (id < 0) {
        *why = "KWin did not load the script";
        return nullptr;
    }
    bus->loaded = true;
    GVariant* started = bus->call(kScriptingPath, kScripting, "start", nullptr, why);
    if (started == nullptr) return nullptr;
    g_variant_unref(started);
    {
        std::unique_lock lock(bus->mutex);
        if (!bus->reported.wait_for(lock, kFirstReport, [&] { return bus->last.has_value(); })) {
            *why = "KWin's script did not report";
            return nullptr;
        }
    }
    std::shared_ptr<KwinFrontmostApp> app(new KwinFrontmostApp());
    app->bus_ = std::move(bus);
    // The installed query lives as long as the process; KWin would keep a script of a daemon
    // that has ended running (and calling a name that is gone) until the next start.
    static std::weak_ptr<KwinFrontmostApp> current;
    static const bool atExit = std::atexit([] {
                                   if (const auto last = current.lock()) last->bus_->unload();
                               }) == 0;
    static_cast<void>(atExit);
    current = app;
    return app;
}

KwinFrontmostApp::~KwinFrontmostApp() = default;

FocusedApp KwinFrontmostApp::focused() {
    Report report;
    {
        std::lock_guard lock(bus_->mutex);
        if (!bus_->last) return {};
        report = *bus_->last;
    }
    if (report.resourceClass.empty() && report.desktopFile.empty() && report.pid.empty())
        return {false, {}};
    FocusedApp app;
    app.identifier = toLower(!report.resourceClass.empty() ? report.resourceClass
                             : !report.desktopFile.empty() ? report.desktopFile
                                                           : executableOf(report.pid));
    // KWin gives an XWayland window its X11 id and a native one 0.
    if (report.windowId == "0") {
        app.protocol = WindowProtocol::Wayland;
    } else if (!report.windowId.empty() &&
               report.windowId.find_first_not_of("0123456789") == std::string::npos) {
        app.protocol = WindowProtocol::X11;
    }
    return app;
}

} // namespace vak
