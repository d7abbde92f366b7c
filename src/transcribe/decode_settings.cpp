#include "transcribe/decode_settings.h"

#include "base/files.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "transcribe/cloud_client.h"
#include "transcribe/speech_tools.h"

namespace vak {

bool DecodeSettings::localAvailable() const {
    return isRegularFile(whisperCli) && isRegularFile(model);
}

bool DecodeSettings::vadModelPresent() const {
    return isRegularFile(vadModel);
}

DecodeSettings DecodeSettings::fromProcess() {
    const ProcessValues& values = processValues();
    DecodeSettings s;
    s.whisperCli = values.WHISPER;
    if (isExecutableFile(s.whisperCli)) s.cliOptions = toolOptions(s.whisperCli);
    s.ffmpeg = values.FFMPEG;
    s.model = values.MODEL;
    s.vadModel = values.VAD_MODEL;
    s.serverUrl = localServerUrl();
    static const auto memory = std::make_shared<ServerMemory>();
    s.server = memory;
    s.prompt = std::string(VOCAB_PROMPT);
    s.config = values.cfg;
    s.scratch = values.scratch;
    s.cloudReachability = processCloudReachability();
    return s;
}

} // namespace vak
