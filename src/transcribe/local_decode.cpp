#include "transcribe/local_decode.h"

#include "base/files.h"
#include "base/json.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/subprocess.h"
#include "transcribe/engine_threads.h"
#include "transcribe/speech_tools.h"
#include "transcribe/tool_report.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace vak {

namespace {

ServerAnswer answerOf(const ServerReply& reply) {
    if (reply.text) return {reply.text, ""};
    if (reply.status.empty()) return {std::nullopt, "not answering"};
    return {std::nullopt, "answered HTTP " + reply.status + " (" +
                              (reply.message.empty() ? std::string("no message") : reply.message) +
                              ")"};
}

ServerReply askServer(const DecodeSettings& settings, const std::string& wav, double timeoutSeconds,
                      bool withVad) {
    CurlOptions options;
    options.maxTimeSeconds = timeoutSeconds;
    options.backstopSeconds = settings.scaled(2) + 1;
    options.killGraceSeconds = settings.scaled(2);
    return askWhisperServer(serverRequestArguments(settings, wav, timeoutSeconds, withVad),
                            options);
}

// Why nothing can be written at `path` (tried with a page of zeros, then removed); nothing when
// it can.
std::optional<std::string> cannotWriteAt(const std::string& path) {
    auto probe = createScratchFile(path);
    if (!probe) return std::string(std::strerror(errno));
    const bool written =
        writeAll(probe->get(), std::string(4096, '\0')) && ::fsync(probe->get()) == 0;
    const int error = errno;
    probe.reset();
    removeFile(path);
    if (written) return std::nullopt;
    return std::string(std::strerror(error));
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

ServerAnswer runWhisperViaServer(const std::string& wav, double timeoutSeconds,
                                 const DecodeSettings& settings) {
    const bool withVad = settings.vadModelPresent() && !settings.server->lacksVad.load();
    const auto reply = askServer(settings, wav, timeoutSeconds, withVad);
    if (reply.text || !withVad || reply.status != "500" ||
        reply.message != "failed to process audio")
        return answerOf(reply);
    const auto again = askServer(settings, wav, timeoutSeconds, false);
    if (again.text && !settings.server->lacksVad.exchange(true)) {
        log(LogLevel::warning, "whisper-server has no VAD model (with VAD on it answered HTTP 500 "
                               "\"failed to process audio\") — decoding there without VAD from "
                               "now on; start it with -vm " +
                                   settings.vadModel);
    }
    return answerOf(again.text ? again : reply);
}

namespace {

std::optional<std::string> runParakeet(const std::string& wav, double timeoutSeconds,
                                       double durationSeconds, const DecodeSettings& settings) {
    const auto answer = answerOf(askServer(settings, wav, timeoutSeconds, false));
    if (!answer.text) {
        log(LogLevel::toolError, "Parakeet server " + answer.problem + " (clip " +
                                     wholeNumber(durationSeconds) + "s) — no local decode");
    }
    return answer.text;
}

} // namespace

std::optional<std::string> runWhisperLocalPath(const std::string& decodeWav,
                                               const std::string& txtBase, double timeoutSeconds,
                                               double durationSeconds,
                                               const DecodeSettings& settings,
                                               const std::atomic<bool>* cancel) {
    if (settings.engine() == SpeechEngine::Parakeet)
        return runParakeet(decodeWav, timeoutSeconds, durationSeconds, settings);
    const Config& config = settings.config;
    if (config.useServer && !config.callMode && !config.whisperMode) {
        auto answer = runWhisperViaServer(decodeWav, timeoutSeconds, settings);
        if (answer.text) return answer.text;
        log(LogLevel::warning,
            "whisper-server " + answer.problem + " — falling back to whisper-cli (slower)");
    }

    RunOptions options;
    options.captureOutput = false;
    options.timeoutSeconds = timeoutSeconds;
    options.killGraceSeconds = settings.scaled(2);
    options.errorTailBytes = kToolErrorTailBytes;
    options.environment = engineEnvironment(settings.threads);
    options.cancel = cancel;
    std::vector<std::string> missing;
    const auto arguments = whisperCliArguments(settings, decodeWav, txtBase, &missing);
    reportMissingOptions(settings.whisperCli, missing);
    std::string error;
    const auto result = runProcess(arguments, options, &error);
    if (!result) {
        log(LogLevel::toolError, "whisper error: " + error);
        return std::nullopt;
    }
    if (result->cancelled) return std::nullopt; // ended on purpose: no failure to report
    const std::string clip = " (clip " + wholeNumber(durationSeconds) + "s)";
    if (result->status.signaled()) {
        if (result->timedOut) {
            log(LogLevel::toolError,
                "whisper watchdog: killed after " + wholeNumber(timeoutSeconds) + "s" + clip);
        } else {
            log(LogLevel::toolError, "whisper-cli ended by signal " +
                                         std::to_string(result->status.code) + clip + ": " +
                                         failureCause(result->errorTail));
        }
        return std::nullopt;
    }
    // whisper-cli exits 0 after an unknown option or language and writes no text; a status other
    // than 0 means it did not finish its work, whatever it wrote.
    auto text = readTextFile(txtBase + ".txt", nullptr, Links::refuse);
    // whisper-cli says nothing when its text could not be written (a full disk): an empty file
    // there is a failure, not silence.
    if (text && text->empty() && result->status.success()) {
        if (const auto problem = cannotWriteAt(txtBase + ".probe")) {
            log(LogLevel::toolError, "whisper-cli could not write its text " + txtBase + ".txt (" +
                                         *problem + ")" + clip);
            return std::nullopt;
        }
    }
    if (!text || !result->status.success()) {
        log(LogLevel::toolError, "whisper-cli exit " + std::to_string(result->status.code) +
                                     (text ? "" : ", no output") + ": " +
                                     failureCause(result->errorTail));
        return std::nullopt;
    }
    return text;
}

} // namespace vak
