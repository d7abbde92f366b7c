#include "app/local_servers.h"

#include "base/files.h"
#include "base/log.h"
#include "foundation/process_values.h"
#include "transcribe/speech_tools.h"

#include <cstdlib>

namespace vak {

namespace {

// The port of a loopback address "http://127.0.0.1:PORT/…" (or localhost); nothing for any
// other host: a server elsewhere is not ours to start.
std::optional<int> loopbackPort(const std::string& url) {
    for (const char* prefix : {"http://127.0.0.1:", "http://localhost:"}) {
        if (!url.starts_with(prefix)) continue;
        const int port = std::atoi(url.c_str() + std::string_view(prefix).size());
        if (port > 0 && port < 65536) return port;
    }
    return std::nullopt;
}

} // namespace

LocalServers startLocalServers(const ProcessValues& values) {
    LocalServers servers;
    if (!values.cfg.useServer) return servers;
    const auto port = loopbackPort(localServerUrl());
    if (!port) return servers;
    ServerKeeperSettings settings;
    settings.tool = values.WHISPER_SERVER;
    settings.model = values.MODEL;
    if (isRegularFile(values.VAD_MODEL)) settings.vadModel = values.VAD_MODEL;
    settings.port = *port;
    settings.threads = serverThreads();
    servers.decode = ServerKeeper::start(std::move(settings));
    return servers;
}

} // namespace vak
