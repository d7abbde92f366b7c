#pragma once

namespace vak {

// Installs the operating system's implementations of every platform service (sound system,
// and the rest as they arrive). Called once at start, before any mode runs.
void installPlatformBackends();

} // namespace vak
