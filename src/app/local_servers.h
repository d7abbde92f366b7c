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
    // With SERVER on and the servers' addresses on the loopback, starts whisper-server with the
    // decode model (and the VAD model when it is there), and with live captions on a second one
    // with the caption model, unless one answers there already.
    void start(const ProcessValues& values);

    // Decodes use `model` from now on: the decode server of our own is restarted with it, or
    // started now when it could not be before (its model was missing). One that someone else
    // started keeps its model.
    void useDecodeModel(const std::string& model);

  private:
    std::optional<ServerKeeperSettings> decodeSettings_; // none: no decode server of ours
    std::unique_ptr<ServerKeeper> decode_;
    std::unique_ptr<ServerKeeper> captions_;
};

} // namespace vak
