#pragma once

#include "transcribe/model_catalog.h"

namespace vak {

// How an engine's decode time grows with the clip: a fixed part per call and a part per second
// of audio, in the engine's own units (only their ratio counts), and how much audio one fixed
// part covers. Whisper pads every clip to a 30-second window and runs its encoder over all of
// it, so 3 s cost what 30 s cost; Parakeet encodes only the clip, so its cost follows the clip.
// The chunk schedule is cut to this and nothing else.
struct DecodeCostShape {
    double perCall = 1;
    double perAudioSecond = 0;
    double windowSeconds = 0; // 0: one fixed part, however long the clip
};

DecodeCostShape decodeCostShape(SpeechEngine engine);

// The pieces a recording is pre-decoded in, for an engine of a given cost shape.
struct PieceSchedule {
    // Speech not pre-decoded yet is pre-decoded once it is this long, up to its longest pause
    // at least `minPieceSeconds` in: the stop is left at most about this much to decode.
    double stretchSeconds = 12;
    double minPieceSeconds = 6;
    // Up to this much audio from a running pre-decode's start, the stop decode may end it and
    // decode its audio again: the stop pays its fixed part anyway, so the words are all it adds.
    // 0: never worth it, re-decoding costs what the pre-decode costs.
    double endAtStopWithinSeconds = 0;
};

PieceSchedule pieceSchedule(const DecodeCostShape& cost);

} // namespace vak
