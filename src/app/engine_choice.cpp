#include "app/engine_choice.h"

#include "app/daemon_startup.h"
#include "base/files.h"
#include "base/numbers.h"
#include "foundation/config_key_names.h"
#include "foundation/process_values.h"
#include "transcribe/engine_threads.h"
#include "transcribe/gpu_probe.h"
#include "transcribe/model_catalog.h"

#include <unistd.h>

namespace vak {

std::optional<EngineChoice> chooseModelForMachine(const ProcessValues& values,
                                                  std::string* problem) {
    if (!decodeModelLeftToChoose(values.cfg.decodeModel, values.MODEL)) return std::nullopt;
    const GpuFinding gpu = probeGpu(GpuProbeTools::fromProcess());
    std::string why;
    const std::string stamp =
        readTextFile(engineDirectory(values.HOME) + "/bin/.build-options").value_or("");
    const auto pick = pickDecodeModel(engineUsesGpu(stamp, gpu, &why), values.cfg.language);
    if (pick.name == values.cfg.decodeModel) return std::nullopt;
    if (!writeConfigValue(values.CONFIG_PATH, config_key::decodeModel.text, pick.name)) {
        if (problem)
            *problem = "cannot write DECODE_MODEL=" + pick.name + " into " + values.CONFIG_PATH +
                       ": keeping " + values.cfg.decodeModel;
        return std::nullopt;
    }
    return EngineChoice{pick.name, why + ": " + pick.reason, gpu.notes};
}

std::optional<ModelSpeed> measureModelSpeed(const ProcessValues& values, const std::string& name,
                                            const std::string& serverUrl, std::string* problem) {
    const std::string model = modelPath(values.HOME, name);
    const std::string clip =
        values.scratch.path("vak_timing_" + std::to_string(::getpid()) + ".wav");
    if (!writeTimingClip(clip, 6)) {
        if (problem) *problem = "cannot write the clip " + clip;
        return std::nullopt;
    }
    DecodeSettings settings = DecodeSettings::from(values, processDecodeMemory());
    settings.model = model;
    settings.config.preprocess = false;
    std::optional<ModelSpeed> speed;
    if (!serverUrl.empty()) {
        settings.serverUrl = serverUrl;
        speed = timeServerDecode(settings, clip, 180, problem);
    } else {
        ServerKeeperSettings server;
        const bool parakeet = engineOfModel(model) == SpeechEngine::Parakeet;
        // Found now: the set-up may have just built them.
        server.name = parakeet ? "Parakeet server" : "whisper-server";
        server.tool = _which(parakeet ? "vak-parakeet-server" : "whisper-server");
        server.model = model;
        server.threads = engineThreads(values.cfg.liveCaptions).decode;
        speed = timeModelDecode(server, settings, clip, problem);
    }
    removeFile(clip);
    if (speed && !recordModelSpeed(values.MODEL_SPEEDS_PATH, name, *speed) && problem)
        *problem = "cannot write " + values.MODEL_SPEEDS_PATH;
    return speed;
}

std::string speedLine(const std::string& name, const ModelSpeed& speed) {
    const SpeechEngine engine = engineOfModel(modelPath("", name));
    return name + " (" + std::string(engineName(engine)) + ") decodes " + speedText(speed) +
           " here: after the stop a typical dictation waits about " +
           fixedDecimals(expectedWaitSeconds(engine, speed), 1) + " s";
}

} // namespace vak
