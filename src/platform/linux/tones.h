#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vak {

// Sample rate of the generated feedback sounds (mono, signed 16-bit).
inline constexpr int TONE_SAMPLE_RATE = 44100;

// The samples of the feedback sound `name` (one of SOUND_NAMES): a short tone with its own
// pitch and shape — a high ping for Tink, a low thud for Pop, a two-note chime for Glass, a
// low buzz for Basso, a slow sonar ping for Submarine, a hollow blow for Bottle. Each starts
// and ends at silence, so it never clicks. Empty for an unknown name.
std::vector<std::int16_t> toneSamples(std::string_view name);

} // namespace vak
