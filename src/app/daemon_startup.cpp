#include "app/daemon_startup.h"

#include "base/files.h"
#include "base/log.h"
#include "foundation/config.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "foundation/trigger_keys.h"
#include "platform/host.h"
#include "platform/key_names.h"
#include "transcribe/cloud_client.h"
#include "transcribe/decode_settings.h"
#include "transcribe/model_catalog.h"
#include "transcribe/speech_tools.h"
#include "transcribe/tool_report.h"

#include <cmath>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

const char* onOff(bool on) {
    return on ? "on" : "off";
}

std::string whole(double value) {
    return std::to_string(static_cast<long long>(std::trunc(value)));
}

} // namespace

const DecodeMemory& processDecodeMemory() {
    // Never destroyed: a decode may still run on another thread while the process exits.
    static const auto* memory = new DecodeMemory(DecodeMemory::fresh());
    return *memory;
}

EngineCheck EngineCheck::fromProcess(const ProcessValues& values) {
    EngineCheck check;
    check.whisperFound = isExecutableFile(values.WHISPER);
    check.whisperServerFound = isExecutableFile(values.WHISPER_SERVER);
    check.modelFound = isRegularFile(values.MODEL);
    check.vadModelFound = isRegularFile(values.VAD_MODEL);
    check.ffmpegFound = isExecutableFile(values.FFMPEG);
    check.parakeetModel = engineOfModel(values.MODEL) == SpeechEngine::Parakeet;
    // The Parakeet server captions with the decode model: no caption model is needed.
    check.captionModelFound = isRegularFile(values.cfg.captionModel) || check.parakeetModel;
    check.parakeetServerFound = isExecutableFile(values.PARAKEET_SERVER);
    return check;
}

bool logEngineCheck(const EngineCheck& check, const ProcessValues& values) {
    if (check.whisperFound) {
        // Its --help, read now: the options it lacks are named at start, not at the first decode.
        std::vector<std::string> missing;
        whisperCliArguments(DecodeSettings::from(values, processDecodeMemory()), "clip.wav", "clip",
                            &missing);
        reportMissingOptions(values.WHISPER, missing);
    }
    if (check.localDecodeReady() && check.parakeetModel) {
        log(LogLevel::ok, "local engine: Parakeet · vak-parakeet-server " + values.PARAKEET_SERVER +
                              " · model " + values.MODEL);
    } else if (check.localDecodeReady()) {
        log(LogLevel::ok, "local engine: whisper-cli " + values.WHISPER + " · whisper-server " +
                              (check.whisperServerFound ? values.WHISPER_SERVER : "missing") +
                              " · model " + values.MODEL + " · VAD " +
                              (check.vadModelFound ? values.VAD_MODEL : "missing"));
    }
    if (!check.localDecodeReady()) {
        log(LogLevel::info,
            std::string("local decode unavailable (") +
                (check.parakeetModel ? "vak-parakeet-server: " : "whisper-cli: ") +
                ((check.parakeetModel ? check.parakeetServerFound : check.whisperFound)
                     ? "found"
                     : "missing") +
                ", model: " + (check.modelFound ? "found" : "missing") + ") — " +
                (values.cfg.cloud
                     ? "transcription runs on the cloud engine " + cloudEngineSummary(values.cfg)
                     : std::string("and the cloud engine is off (CLOUD=0): "
                                   "nothing can be transcribed")));
    }
    if (!check.whisperFound) {
        log(LogLevel::warning,
            std::string(host().toolsMissing) + " — live captions and local fallback are off");
    }
    if (!check.vadModelFound) {
        log(LogLevel::warning, "VAD model missing at " + values.VAD_MODEL +
                                   " — running without VAD (worse silence handling)");
    }
    return check.localDecodeReady();
}

std::string bannerLine(const Config& config, const BannerFacts& facts) {
    std::string line = "Brindle v" + std::string(APP_VERSION) +
                       " (rolling chunks · speculative tail · local writing modes · encrypted "
                       "history · no-click = " +
                       std::string(configValue(config.defaultMode)) + ") up.";
    line += " · cloud=" + (config.cloud ? cloudEngineSummary(config) + "(race)" : "off(local)");
    line += " · " + triggerKeyShortName(config.hotkey) + " toggles · " +
            commandChordName(config.hotkey) + " edits selection · " +
            std::string(host().statusPlace) +
            " 🎙/🔴 shows state · spec=" + onOff(config.speculative);
    line +=
        " · polish=" + (config.polish ? "default-" + std::string(configValue(config.defaultMode)) +
                                            "@" + config.polishModel + "[" + config.polishApps + "]"
                                      : std::string("off"));
    line += " · pro-apps=[" + config.proApps + "] · lang=" + config.language;
    line += " · learned=" + std::to_string(facts.learnedCount) +
            " · snippets=" + std::to_string(facts.snippetCount);
    line += std::string(" · server=") + (config.useServer ? "on@8977" : "off");
    line += " · chunk=" +
            (config.chunkSeconds >= 20 ? whole(config.chunkSeconds) + "s" : std::string("off"));
    line += std::string(" · live captions=") +
            onOff(config.liveCaptions && facts.engines.captionModelFound);
    line += " · VAD=" + (facts.engines.vadModelFound
                             ? "on@" + formatDecimal(config.effectiveVadThreshold())
                             : std::string("off"));
    line += std::string(" · preprocess=") + onOff(config.preprocess && facts.engines.ffmpegFound);
    line += std::string(" · call-mode=") + (config.callMode ? "ON" : "off") +
            " · whisper-mode=" + (config.whisperMode ? "ON" : "off");
    std::string plan;
    for (const auto& name : facts.micPlan) {
        if (!plan.empty()) plan += " → ";
        plan += name;
    }
    line += " · mic=" + config.inputDevice + " [" + (plan.empty() ? "system default" : plan) +
            "] · max " + whole(config.maxRecordSeconds) + "s";
    return line;
}

} // namespace vak
