#pragma once

#include "transcribe/server_keeper.h"

#include <memory>

namespace vak {

struct ProcessValues;

// The resident servers the daemon keeps for itself while it runs.
struct LocalServers {
    std::unique_ptr<ServerKeeper> decode;
};

// With SERVER on and the local server's address on the loopback, starts whisper-server with the
// decode model (and the VAD model when it is there) unless one answers there already.
LocalServers startLocalServers(const ProcessValues& values);

} // namespace vak
