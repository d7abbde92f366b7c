#include "transcribe/decode_cost.h"

#include <algorithm>

namespace vak {

namespace {

// A piece holds at least this many times the audio whose cost equals one call's fixed part, so
// that the fixed part is at most a fifth of what a piece costs.
constexpr double kFixedShareFactor = 4;
// Shorter pieces hear too few of the words around each word; longer ones make the decode still
// running at a stop long (pieces of 16 s made whisper's worst wait 4.5 s against 4.1 s at 12 s).
constexpr double kShortestStretch = 4;
constexpr double kLongestStretch = 12;

} // namespace

DecodeCostShape decodeCostShape(SpeechEngine engine) {
    switch (engine) {
    case SpeechEngine::Parakeet:
        // Measured on a 2-core CPU with the full-size model in a resident process: 0.4–0.6 s
        // for 2 s of audio, 0.9–1.2 s for 5 s; about 0.2 s a call and 0.2 s a second.
        return {0.2, 0.2, 0};
    case SpeechEngine::Whisper:
        break;
    }
    // One encoder pass a 30 s window; the beam search adds about a fiftieth of a pass per word,
    // some two and a half words a second.
    return {1, 0.05, 30};
}

PieceSchedule pieceSchedule(const DecodeCostShape& cost) {
    PieceSchedule schedule;
    const double fixedAudio =
        cost.perAudioSecond > 0 ? cost.perCall / cost.perAudioSecond : kLongestStretch;
    schedule.stretchSeconds =
        std::clamp(kFixedShareFactor * fixedAudio, kShortestStretch, kLongestStretch);
    schedule.minPieceSeconds = schedule.stretchSeconds / 2;
    schedule.endAtStopWithinSeconds = cost.windowSeconds;
    return schedule;
}

} // namespace vak
