#pragma once

#include "platform/sound_player.h"

#include <cstdint>
#include <vector>

namespace vak {

// Sample rate of the generated feedback sounds (mono, signed 16-bit).
inline constexpr int TONE_SAMPLE_RATE = 44100;

// The samples of a feedback sound: a short tone with its own pitch and shape — a high ping at
// the start, a low thud at the stop, a two-note chime when pasted, a low buzz on a failure, a
// slow sonar ping at the automatic stop, a hollow blow when thrown away. Each starts and ends
// at silence, so it never clicks.
std::vector<std::int16_t> toneSamples(Sound sound);

} // namespace vak
