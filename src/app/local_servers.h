#pragma once

#include "transcribe/server_keeper.h"

#include <memory>
#include <optional>
#include <string>

namespace vak {

struct ProcessValues;

// The resident servers the daemon keeps for itself while it runs: one with the decode model,
// one with the caption model (so a caption pass loads no model). Main thread.
class LocalServers {
  public:
    LocalServers() = default;
    // With the servers' addresses on the loopback, starts the decode model's server (with SERVER
    // on, whisper-server with the VAD model when it is there; the Parakeet server in any case),
    // and with SERVER and live captions on a second whisper-server with the caption model,
    // unless one answers there already. The Parakeet server captions with its own model: no
    // second server, and each of its requests gets half the cores when captions are on.
    void start(const ProcessValues& values);

    // Decodes use `model` from now on: the decode server of our own is restarted with it (the
    // other engine's server in its place when the model is of the other engine), or started now
    // when it could not be before (its model was missing, or SERVER=0 and the model is
    // Parakeet's); with SERVER=0 a whisper model needs none (whisper-cli decodes it) and ours
    // stops. One that someone else started keeps its model.
    void useDecodeModel(const std::string& model);

    // Whether a decode server of ours runs (or is starting) with the decode model.
    bool holdsDecodeModel() const { return decode_ != nullptr; }

  private:
    // The decode server for `model`: whisper-server with the VAD model, or the Parakeet server.
    ServerKeeperSettings decodeServer(ServerKeeperSettings settings,
                                      const std::string& model) const;

    // Whether the model's decodes go to a server of ours: with SERVER on, or a Parakeet model.
    bool wanted(const std::string& model) const;

    bool useServer_ = true;
    std::string whisperServer_;
    std::string parakeetServer_;
    std::string vadModel_;                               // empty: none
    std::optional<ServerKeeperSettings> decodeSettings_; // none: no decode server of ours
    std::unique_ptr<ServerKeeper> decode_;
    std::unique_ptr<ServerKeeper> captions_;
};

} // namespace vak
