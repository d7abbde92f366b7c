#include "transcribe/decode_settings.h"

#include "base/files.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "transcribe/cloud_client.h"
#include "transcribe/engine_threads.h"
#include "transcribe/speech_tools.h"

namespace vak {

bool DecodeSettings::localAvailable() const {
    const std::string& program = engine() == SpeechEngine::Parakeet ? parakeetServer : whisperCli;
    return isRegularFile(program) && isRegularFile(model);
}

SpeechEngine DecodeSettings::engine() const {
    return engineOfModel(model);
}

bool DecodeSettings::vadModelPresent() const {
    return isRegularFile(vadModel);
}

DecodeMemory DecodeMemory::fresh() {
    return {std::make_shared<ServerMemory>(), std::make_shared<CloudReachability>()};
}

DecodeSettings DecodeSettings::from(const ProcessValues& values, const DecodeMemory& memory) {
    DecodeSettings s;
    s.whisperCli = values.WHISPER;
    s.parakeetServer = values.PARAKEET_SERVER;
    if (isExecutableFile(s.whisperCli)) s.cliOptions = toolOptions(s.whisperCli);
    s.ffmpeg = values.FFMPEG;
    s.model = values.MODEL;
    s.vadModel = values.VAD_MODEL;
    s.threads = engineThreads(values.cfg.liveCaptions).decode;
    s.serverUrl = localServerUrl();
    s.server = memory.server;
    s.prompt = std::string(VOCAB_PROMPT);
    s.config = values.cfg;
    s.scratch = values.scratch;
    s.cloudReachability = memory.cloudReachability;
    return s;
}

} // namespace vak
