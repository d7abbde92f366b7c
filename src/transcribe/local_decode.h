#pragma once

#include "transcribe/decode_settings.h"

#include <atomic>
#include <optional>
#include <string>

namespace vak {

// Decoding on this machine. Each call starts its child process, waits for it (blocking the
// calling thread) and reaps it before returning; callers stay off the main thread.

// A denoised, normalised copy of `wav` at wav + ".pp.wav", or nothing when conditioning is off,
// ffmpeg is missing or it failed (the caller then decodes the raw file and deletes the copy
// after decoding). `durationSeconds` sizes ffmpeg's time limit.
std::optional<std::string> preprocessAudio(const std::string& wav, double durationSeconds,
                                           const DecodeSettings& settings);

// The local transcript: the resident server when it may be used, else (or when it does not
// answer) a fresh whisper-cli run whose text lands in txtBase + ".txt", stopped by a two-stage
// watchdog after `timeoutSeconds`, or ended once `cancel` is set. Untrimmed; nothing on failure.
// A Parakeet model is decoded by its resident server only (it has no one-shot program that can be
// trusted: parakeet-cli exits 0 when it cannot read its input); its failures are logged with
// their cause.
std::optional<std::string> runWhisperLocalPath(const std::string& decodeWav,
                                               const std::string& txtBase, double timeoutSeconds,
                                               double durationSeconds,
                                               const DecodeSettings& settings,
                                               const std::atomic<bool>* cancel = nullptr);

// What the resident server made of one request.
struct ServerAnswer {
    std::optional<std::string> text; // "text" of its JSON answer, possibly empty
    // Without text: why. "not answering" (not there, or too slow), else its status and message.
    std::string problem;
};

// The resident server's transcript. A server started without a VAD model fails every request
// that asks for the voice gate: the request is then made once more without it, and when that
// decodes, the server's lack is remembered (and logged once) for every later request.
ServerAnswer runWhisperViaServer(const std::string& wav, double timeoutSeconds,
                                 const DecodeSettings& settings);

} // namespace vak
