#pragma once

namespace vak {

struct Config;
struct DesktopChoice;

// Installs the Wayland session's desktop services, each the first that works here:
// - key monitor: the keyboards under /dev/input (there is no other way on Wayland);
// - synthetic paste and copy: the compositor's virtual-keyboard protocol through wtype, else
//   mutter's remote-desktop keyboard (GNOME), else a kernel virtual keyboard on /dev/uinput,
//   else XTest through XWayland (X11 windows only: a paste that would not arrive is not sent);
// - clipboard: data control, else Qt's clipboard (through XWayland when Qt runs there);
// - frontmost application: sway's IPC, else foreign toplevel management, else XWayland's
//   active window (X11 windows only), else unknown;
// - floating panels: sway's rules through its IPC, else the windows' own hints.
// Logs one line per service: which backend serves it and why. The portal's shortcut is the
// configuration's trigger key and SHORTCUT_CHORD.
void installWaylandDesktop(const DesktopChoice& choice, const Config& config);

} // namespace vak
