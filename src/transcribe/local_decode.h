#pragma once

#include "transcribe/decode_settings.h"

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
// watchdog after `timeoutSeconds`. Untrimmed; nothing on failure.
std::optional<std::string> runWhisperLocalPath(const std::string& decodeWav,
                                               const std::string& txtBase, double timeoutSeconds,
                                               double durationSeconds,
                                               const DecodeSettings& settings);

// The resident server's transcript ("text" of its JSON answer, possibly empty), or nothing when
// it is not there, too slow or answers something else. Logs nothing.
std::optional<std::string> runWhisperViaServer(const std::string& wav, double timeoutSeconds,
                                               const DecodeSettings& settings);

} // namespace vak
