#pragma once

namespace vak {

// Installs the operating system's implementations of every platform service (sound system,
// secret store, key monitor, pasteboard and PRIMARY selection, synthetic keys, frontmost
// application, sounds, service control, file opener). Called once at start, before any mode runs;
// nothing connects to the display or a server until it is used.
void installPlatformBackends();

} // namespace vak
