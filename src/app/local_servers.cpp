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

void LocalServers::start(const ProcessValues& values) {
    if (!values.cfg.useServer) return;
    if (const auto port = loopbackPort(localServerUrl())) {
        ServerKeeperSettings settings;
        settings.tool = values.WHISPER_SERVER;
        settings.model = values.MODEL;
        if (isRegularFile(values.VAD_MODEL)) settings.vadModel = values.VAD_MODEL;
        settings.port = *port;
        settings.threads = serverThreads();
        decodeSettings_ = settings;
        decode_ = ServerKeeper::start(std::move(settings));
    }
    const auto captionPort = loopbackPort(captionServerUrl());
    if (values.cfg.liveCaptions && captionPort && isRegularFile(values.cfg.captionModel)) {
        ServerKeeperSettings settings;
        settings.name = "caption whisper-server";
        settings.tool = values.WHISPER_SERVER;
        settings.model = values.cfg.captionModel;
        settings.port = *captionPort;
        settings.threads = captionServerThreads();
        captions_ = ServerKeeper::start(std::move(settings));
    }
}

void LocalServers::useDecodeModel(const std::string& model) {
    if (!decodeSettings_) return;
    decodeSettings_->model = model;
    if (decode_) {
        decode_->useModel(model);
        return;
    }
    // Not ours: nothing answered and the model was missing, or someone else's answers (it is
    // then used as it is, and start says so).
    decode_ = ServerKeeper::start(*decodeSettings_);
}

} // namespace vak
