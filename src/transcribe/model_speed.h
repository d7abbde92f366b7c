#pragma once

#include "transcribe/decode_settings.h"
#include "transcribe/model_catalog.h"
#include "transcribe/server_keeper.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

// How fast a model decodes on this machine, measured once by timing one short decode on its
// resident server (model loaded, as dictations meet it).
struct ModelSpeed {
    double clipSeconds = 0;    // the audio decoded
    double computeSeconds = 0; // how long the decode took
};

// The speeds measured so far, by model name, from the file at `path` ("NAME CLIP COMPUTE" lines,
// "#" comments); a missing or damaged file, or a damaged line, measures nothing.
std::map<std::string, ModelSpeed, std::less<>> loadModelSpeeds(const std::string& path);
// Sets the model's line (the others stay): an atomic rewrite, 0600.
bool recordModelSpeed(const std::string& path, std::string_view model, ModelSpeed speed);

// The speech the stop leaves to decode in a typical dictation: the words after the last pause
// the pre-decodes covered, about a sentence.
inline constexpr double kTypicalTailSeconds = 5;
// The wait after the stop for that tail: Parakeet's cost follows the clip; whisper pays for its
// 30-second window whatever the clip, so a tail costs what the timed decode did.
double expectedWaitSeconds(SpeechEngine engine, const ModelSpeed& speed);
// "6 s of audio in 1.3 s", for the log and the settings window.
std::string speedText(const ModelSpeed& speed);

// The clip decodes are timed on: `seconds` of voiced syllables and pauses (16 kHz mono), made
// here so that no sample file need be shipped. False when it cannot be written.
bool writeTimingClip(const std::string& path, double seconds);

// Times one decode of `clip` by the resident server at settings.serverUrl, after waiting up to
// `readySeconds` for it to answer (a model of gigabytes loads for a while). Nothing when it never
// decodes; `problem` then says why.
std::optional<ModelSpeed> timeServerDecode(const DecodeSettings& settings, const std::string& clip,
                                           double readySeconds, std::string* problem);

// The same for a model no server holds yet: starts the model's server (settings.tool) on a free
// loopback port, times the decode and stops it.
std::optional<ModelSpeed> timeModelDecode(ServerKeeperSettings server, DecodeSettings settings,
                                          const std::string& clip, std::string* problem);

} // namespace vak
