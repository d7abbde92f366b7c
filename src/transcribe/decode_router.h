#pragma once

#include "transcribe/decode_settings.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vak {

// Which engines a decode may use. The chunk engine prefers the cloud for finished chunks and
// keeps speculative tails local; everything else races both engines when it can.
enum class DecodeRoute { Auto, CloudPreferred, LocalOnly };

// Which engines produced the text of a recording's decodes (its whole-file decode, or its
// chunks): runWhisper notes the engine whose text it returns. Safe from any thread.
struct DecodeTrail {
    std::atomic<bool> cloud{false};
    std::atomic<bool> local{false};
};

// One decode: the clip, whisper-cli's output base (it writes textBase + ".txt"), the route, and
// where to note the engine that answered (optional).
struct DecodeRequest {
    std::string wav;
    std::string textBase;
    DecodeRoute route = DecodeRoute::Auto;
    std::shared_ptr<DecodeTrail> trail = nullptr;
    // When set while a local whisper-cli decode runs, its process is ended and nothing returned.
    const std::atomic<bool>* cancel = nullptr;
};

struct DecodeLimits {
    double cloudSeconds = 0; // clip × 1.5 + 15
    double localSeconds = 0; // max(clip × 2 + 60, 60)
};
DecodeLimits decodeLimits(double durationSeconds);

// The one way from a recording to raw transcript text (untrimmed), or nothing when no engine
// produced any. A stale textBase + ".txt" is deleted first. Conditions the audio, then routes by
// engine availability and the request's route: local only, cloud first with local fall-back, or
// a race whose first non-empty answer wins (the loser runs on to its own end). Blocks the
// calling thread; safe on several threads at once.
std::optional<std::string> runWhisper(const DecodeRequest& request, const DecodeSettings& settings);

// runWhisper with the settings `settings` makes but the model `choice` holds, both as each
// decode starts.
using Decoder = std::function<std::optional<std::string>(const DecodeRequest& request)>;
Decoder decoderWith(std::shared_ptr<const DecodeModelChoice> choice,
                    std::function<DecodeSettings()> settings);

// The race itself, for any two engines.
using EngineCall = std::function<std::optional<std::string>()>;
struct RaceOutcome {
    std::optional<std::string> text;    // the winning text: the first present, non-empty one
    std::string winner;                 // "cloud" or "local"; empty without a winner
    std::optional<double> cloudSeconds; // absent: that engine had not finished ("dnf")
    std::optional<double> localSeconds;
};
// Runs both engines on the user-initiated global queue and waits for a winner: one wait of up
// to `waitSeconds` for the first engine to finish, and when that brought no winner, one more.
RaceOutcome raceEngines(EngineCall cloud, EngineCall local, double waitSeconds);
// "decode race: cloud won (cloud 1.2s · local dnf)", logged as a fast path.
std::string raceLogLine(const RaceOutcome& outcome);

// Race engines still running (losers finish after their race has returned).
int decodeEnginesRunning();
// Waits up to `maxSeconds` for them; true when none is left.
bool waitForDecodeEngines(double maxSeconds);

} // namespace vak
