#include "transcribe/local_decode.h"

#include "base/files.h"
#include "base/json.h"
#include "base/log.h"
#include "base/subprocess.h"
#include "transcribe/speech_tools.h"

#include <algorithm>

namespace vak {

namespace {

std::string wholeSeconds(double seconds) {
    return std::to_string(static_cast<long long>(seconds));
}

} // namespace

std::optional<std::string> preprocessAudio(const std::string& wav, double durationSeconds,
                                           const DecodeSettings& settings) {
    if (!settings.config.preprocess || !isRegularFile(settings.ffmpeg)) return std::nullopt;
    // In the scratch folder, never beside the input: that may be a file of the user's.
    const std::string output = settings.scratch.conditionedCopy();
    // Created here, private and not through a planted link; ffmpeg then writes into it. When
    // that is impossible (a folder we cannot write, a link we cannot remove) ffmpeg is not run:
    // it would follow the link.
    if (!createScratchFile(output)) {
        log(LogLevel::warning,
            "preprocess failed (cannot create " + output + ") — decoding raw clip");
        return std::nullopt;
    }

    RunOptions options;
    options.captureOutput = false;
    // A hung ffmpeg is asked to stop first; one that ignores that is killed after the grace.
    options.timeoutSeconds = settings.scaled(std::max(durationSeconds * 0.5 + 30, 30.0));
    options.killGraceSeconds = settings.scaled(2);
    std::string error;
    const auto result = runProcess(ffmpegArguments(settings, wav, output), options, &error);
    if (!result) {
        log(LogLevel::toolError, "ffmpeg preprocess error: " + error);
        removeFile(output);
        return std::nullopt;
    }
    const std::int64_t size = fileSize(output).value_or(0);
    if (!result->status.success() || size <= 1024) {
        log(LogLevel::warning, "preprocess failed (status " + std::to_string(result->status.code) +
                                   ", " + std::to_string(size) + "B) — decoding raw clip");
        removeFile(output);
        return std::nullopt;
    }
    return output;
}

std::optional<std::string> runWhisperViaServer(const std::string& wav, double timeoutSeconds,
                                               const DecodeSettings& settings) {
    const auto body = curlRequest(settings, serverRequestArguments(settings, wav, timeoutSeconds),
                                  timeoutSeconds);
    if (!body) return std::nullopt;
    return jsonStringMember(*body, "text");
}

std::optional<std::string> runWhisperLocalPath(const std::string& decodeWav,
                                               const std::string& txtBase, double timeoutSeconds,
                                               double durationSeconds,
                                               const DecodeSettings& settings) {
    const Config& config = settings.config;
    if (config.useServer && !config.callMode && !config.whisperMode) {
        if (auto text = runWhisperViaServer(decodeWav, timeoutSeconds, settings)) return text;
        log(LogLevel::warning,
            "whisper-server not answering — falling back to whisper-cli (slower)");
    }

    RunOptions options;
    options.captureOutput = false;
    options.timeoutSeconds = timeoutSeconds;
    options.killGraceSeconds = settings.scaled(2);
    std::string error;
    const auto result =
        runProcess(whisperCliArguments(settings, decodeWav, txtBase), options, &error);
    if (!result) {
        log(LogLevel::toolError, "whisper error: " + error);
        return std::nullopt;
    }
    if (result->status.signaled()) {
        if (result->timedOut) {
            log(LogLevel::toolError, "whisper watchdog: killed after " +
                                         wholeSeconds(timeoutSeconds) + "s (clip " +
                                         wholeSeconds(durationSeconds) + "s)");
        } else {
            log(LogLevel::toolError, "whisper-cli ended by signal " +
                                         std::to_string(result->status.code) + " (clip " +
                                         wholeSeconds(durationSeconds) + "s)");
        }
        return std::nullopt;
    }
    return readTextFile(txtBase + ".txt", nullptr, Links::refuse);
}

} // namespace vak
