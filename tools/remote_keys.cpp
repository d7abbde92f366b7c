// A keyboard for a headless GNOME Shell, for the desktop tests.
//
//   vak-remote-keys READY_FILE
//       Opens a session of mutter's remote desktop (which gives the headless seat a keyboard),
//       presses Escape (the shell starts in its Overview, which takes the keys), writes
//       READY_FILE and keeps the session, and with it the keyboard, until SIGTERM.
//   vak-remote-keys --keys KEY...
//       Types the keys (X keysyms, "0x73"; "+0xffe3" holds one down, "-0xffe3" lets it go) into
//       the focused window and exits.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <gio/gio.h>
#include <unistd.h>

namespace {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kSession = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr unsigned kShiftL = 0xffe1;
constexpr unsigned kEscape = 0xff1b;

volatile std::sig_atomic_t stopping = 0;

void stop(int) {
    stopping = 1;
}

bool call(GDBusConnection* bus, const char* path, const char* interface, const char* method,
          GVariant* parameters, GVariant** reply = nullptr) {
    GError* error = nullptr;
    GVariant* result =
        g_dbus_connection_call_sync(bus, kService, path, interface, method, parameters, nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (result == nullptr) {
        std::fprintf(stderr, "vak-remote-keys: %s: %s\n", method, error->message);
        g_error_free(error);
        return false;
    }
    if (reply != nullptr) {
        *reply = result;
    } else {
        g_variant_unref(result);
    }
    return true;
}

bool tap(GDBusConnection* bus, const char* session, unsigned keysym) {
    for (const bool pressed : {true, false}) {
        if (!call(bus, session, kSession, "NotifyKeyboardKeysym",
                  g_variant_new("(ub)", keysym, static_cast<gboolean>(pressed))))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool typing = argc > 2 && std::strcmp(argv[1], "--keys") == 0;
    if (argc != 2 && !typing) {
        std::fputs("usage: vak-remote-keys READY_FILE | --keys KEY...\n", stderr);
        return 2;
    }
    std::signal(SIGTERM, stop);
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return 1;
    GVariant* created = nullptr;
    if (!call(bus, "/org/gnome/Mutter/RemoteDesktop", kService, "CreateSession", nullptr, &created))
        return 1;
    const char* session = nullptr;
    g_variant_get(created, "(&o)", &session);
    if (!call(bus, session, kSession, "Start", nullptr)) return 1;
    // The first event only brings the keyboard to the seat.
    if (!tap(bus, session, kShiftL)) return 1;
    g_usleep(300 * 1000);
    if (typing) {
        for (int i = 2; i < argc; ++i) {
            const char* key = argv[i];
            const bool down = *key != '-';
            const bool up = *key != '+';
            if (!down || !up) ++key;
            const auto sym = static_cast<unsigned>(std::strtoul(key, nullptr, 0));
            for (const bool pressed : {true, false}) {
                if ((pressed ? down : up) &&
                    !call(bus, session, kSession, "NotifyKeyboardKeysym",
                          g_variant_new("(ub)", sym, static_cast<gboolean>(pressed))))
                    return 1;
            }
        }
        g_usleep(200 * 1000);
        call(bus, session, kSession, "Stop", nullptr);
        return 0;
    }
    if (!tap(bus, session, kEscape)) return 1;
    g_usleep(500 * 1000);
    if (FILE* ready = std::fopen(argv[1], "w")) std::fclose(ready);
    while (stopping == 0)
        ::pause();
    call(bus, session, kSession, "Stop", nullptr);
    g_variant_unref(created);
    g_object_unref(bus);
    return 0;
}
