#pragma once

namespace vak {

// Installs the operating system's implementations of every platform service (sound system,
// secret store, key monitor, pasteboard and PRIMARY selection, synthetic keys, frontmost
// application, sounds, service control, file opener). Called once at start, before any mode runs;
// nothing connects to the display or a server until it is used.
void installPlatformBackends();

// Installs the desktop services (key monitor, synthetic keys, clipboard, frontmost application)
// that depend on what the session's desktop offers — the Wayland ones look at the compositor
// first (desktop_backend.h says which protocol serves) — and logs one line per service: which
// backend serves it and why. Called once by the daemon at start; the command-line modes, which
// use none of them, never reach the desktop.
void startDesktopBackends();

// Picks the display the interface is drawn on and sets the toolkit up for it, logging which and
// why. False, with one serious log line saying what is missing, when there is none.
bool prepareInterfaceDisplay();

} // namespace vak
