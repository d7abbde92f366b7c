#pragma once

#include <string>

#include <gio/gio.h>

namespace vak {

// Whether the user's session bus is there to ask: its address is given, or its socket is in the
// runtime folder. Without one GLib would start a bus of its own (dbus-launch), which no desktop
// is on.
bool haveSessionBus();

// A connection of our own to the user's session bus (close-on-exit off), or nothing with `why`.
// Not GLib's shared one, which a desktop may tie state to and anyone in the process may end;
// and never a bus GLib would start by itself, which no desktop is on.
GDBusConnection* openSessionBus(std::string* why);

// Calls `method` with `parameters` (floating, consumed), waiting at most `timeoutMs`; the reply
// (checked against `replyType` when given), or nothing with `why` ("Method: cause").
GVariant* callBus(GDBusConnection* connection, const char* service, const char* path,
                  const char* interface, const char* method, GVariant* parameters,
                  const char* replyType, int timeoutMs, std::string* why);

} // namespace vak
