#include "app/local_servers.h"

#include "base/files.h"
#include "base/log.h"
#include "foundation/process_values.h"
#include "transcribe/engine_threads.h"
#include "transcribe/model_catalog.h"
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

bool LocalServers::wanted(const std::string& model) const {
    // A Parakeet model has no other local engine than its server: SERVER=0 does not stop it.
    return useServer_ || engineOfModel(model) == SpeechEngine::Parakeet;
}

void LocalServers::start(const ProcessValues& values) {
    const bool parakeet = engineOfModel(values.MODEL) == SpeechEngine::Parakeet;
    // With Parakeet the decode server serves the captions too, from the same resident model.
    const EngineThreads threads = engineThreads(values.cfg.liveCaptions, parakeet);
    if (const auto port = loopbackPort(localServerUrl())) {
        // Kept even when no server is wanted now: a model picked later may want one.
        ServerKeeperSettings settings;
        settings.port = *port;
        settings.threads = threads.decode;
        useServer_ = values.cfg.useServer;
        whisperServer_ = values.WHISPER_SERVER;
        parakeetServer_ = values.PARAKEET_SERVER;
        vadModel_ = isRegularFile(values.VAD_MODEL) ? values.VAD_MODEL : "";
        decodeSettings_ = decodeServer(settings, values.MODEL);
        if (wanted(values.MODEL)) decode_ = ServerKeeper::start(*decodeSettings_);
    }
    const auto captionPort = loopbackPort(captionServerUrl());
    if (!parakeet && values.cfg.useServer && values.cfg.liveCaptions && captionPort &&
        isRegularFile(values.cfg.captionModel)) {
        ServerKeeperSettings settings;
        settings.name = "caption whisper-server";
        settings.tool = values.WHISPER_SERVER;
        settings.model = values.cfg.captionModel;
        settings.port = *captionPort;
        settings.threads = threads.captions;
        captions_ = ServerKeeper::start(std::move(settings));
    }
}

ServerKeeperSettings LocalServers::decodeServer(ServerKeeperSettings settings,
                                                const std::string& model) const {
    settings.model = model;
    if (engineOfModel(model) == SpeechEngine::Parakeet) {
        settings.name = "Parakeet server";
        settings.tool = parakeetServer_;
        settings.vadModel.clear(); // Parakeet decodes what it is given
    } else {
        settings.name = "whisper-server";
        settings.tool = whisperServer_;
        settings.vadModel = vadModel_;
    }
    return settings;
}

void LocalServers::useDecodeModel(const std::string& model) {
    if (!decodeSettings_) return;
    const bool sameEngine = engineOfModel(model) == engineOfModel(decodeSettings_->model);
    decodeSettings_ = decodeServer(*decodeSettings_, model);
    if (!wanted(model)) {
        decode_.reset(); // whisper-cli decodes it (SERVER=0)
        return;
    }
    if (decode_ && sameEngine) {
        decode_->useModel(model);
        return;
    }
    // Another engine: its own program. The old server is stopped first (it holds the port).
    decode_.reset();
    // Not ours: nothing answered and the model was missing, or someone else's answers (it is
    // then used as it is, and start says so).
    decode_ = ServerKeeper::start(*decodeSettings_);
}

} // namespace vak
