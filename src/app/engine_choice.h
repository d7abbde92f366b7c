#pragma once

#include "transcribe/model_speed.h"

#include <optional>
#include <string>

namespace vak {

struct ProcessValues;

// The decode model chosen for this machine when the configuration leaves it open (a first set-up
// or start): the GPU probed, the pick written into the configuration as DECODE_MODEL.
struct EngineChoice {
    std::string model;
    std::string reason;   // why this model, for one line
    std::string gpuNotes; // what the GPU probe found
};
// Nothing when the configuration names its model (it stays), or the pick cannot be written
// (`problem` then says so). Blocks while the GPU is probed: off the main thread.
std::optional<EngineChoice> chooseModelForMachine(const ProcessValues& values,
                                                  std::string* problem);

// Times one decode of a short clip with the installed model `name` on its resident server:
// `serverUrl` when a server of the daemon's holds it already, else one of its own on a free
// port, stopped afterwards. The speed is kept in the model speeds file. Off the main thread.
std::optional<ModelSpeed> measureModelSpeed(const ProcessValues& values, const std::string& name,
                                            const std::string& serverUrl, std::string* problem);

// "parakeet-tdt-0.6b-v3 (Parakeet) decodes 6 s of audio in 0.9 s here: after the stop a typical
// dictation waits about 0.8 s"
std::string speedLine(const std::string& name, const ModelSpeed& speed);

} // namespace vak
