#pragma once

#include "transcribe/decode_settings.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vak {

// How the cloud engine is asked. With TRANSCRIBE_KEY, TRANSCRIBE_URL is a service of OpenAI's
// audio-transcriptions protocol (OpenAI, Groq, a server of the user's own); without one it is
// the Brindle engine, asked in its own form.
enum class CloudProtocol { Off, Brindle, OpenAI };
CloudProtocol cloudProtocol(const Config& config);

// Which cloud engine is in use, for the start-up lines: "off", "brindle@HOST" or
// "openai:MODEL@HOST". Never the key, nor credentials written into the address.
std::string cloudEngineSummary(const Config& config);

// Remembers a Brindle engine that could not be reached (no name resolution, no route, refused,
// TLS failure, no answer in time), so that for the next minute decodes that have a local
// engine leave it out instead of paying for it on every dictation. Thread-safe.
class CloudReachability {
  public:
    static constexpr double kPauseSeconds = 60;
    // Seconds on a monotonic clock.
    using Clock = std::function<double()>;

    explicit CloudReachability(Clock now = {});

    // False within kPauseSeconds of the last failure to reach the engine.
    bool worthAsking() const;
    // One request's outcome. unreachable() returns true when it starts a pause (not when one is
    // already running), for the one log line.
    bool unreachable();
    void answered();

  private:
    Clock now_;
    mutable std::mutex mutex_;
    std::optional<double> pausedUntil_;
};

// Whether a decode that has a local engine should ask the cloud: CLOUD on, and no pause after
// the engine could not be reached.
bool cloudWorthAsking(const DecodeSettings& settings);

// The OpenAI-protocol request: the recording as "file", then model, language (left out for
// "auto", which the protocol does not know: the service then detects it), prompt and a JSON
// answer. The bearer key goes to curl on its standard input, not here.
std::vector<std::string> openAiTranscriptionArguments(const DecodeSettings& settings,
                                                      const std::string& wav,
                                                      double timeoutSeconds);

// Sends `wav` to the cloud engine and returns its non-empty transcript, or nothing: cloud off
// (no request at all), no network, time limit, an error answer or an empty text. No retries;
// the only line it logs is the one that starts a pause. The router decides what follows.
std::optional<std::string> runWhisperViaCloud(const std::string& wav, double timeoutSeconds,
                                              const DecodeSettings& settings);

} // namespace vak
