#pragma once

#include "transcribe/decode_settings.h"

#include <optional>
#include <string>

namespace vak {

// Sends `wav` to the cloud transcription service (TRANSCRIBE_URL) and returns its non-empty
// transcript, or nothing: cloud off (no request at all), no network, time limit, an error
// answer or an empty text. No retries and no log lines; the router decides what follows.
std::optional<std::string> runWhisperViaCloud(const std::string& wav, double timeoutSeconds,
                                              const DecodeSettings& settings);

} // namespace vak
