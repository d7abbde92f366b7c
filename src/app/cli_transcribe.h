#pragma once

#include <string>

namespace vak {

// "--transcribe-file WAV": decodes the file through the normal routing, prints the formatted
// transcript and returns 0; writes "transcription failed" to standard error and returns 1 when
// no engine produced text.
int runTranscribeFile(const std::string& wav);

// "--retry-failed": decodes every recording kept after a failed decode again, newest first,
// through the normal routing, and prints each one's name, time and length, then its formatted
// text or that it failed again. The recordings stay where they are (the status menu or the
// retention sweep removes them). 0 when every retry gave text (or none was kept), else 1.
int runRetryFailed();

// The replays below copy WAV's audio piece by piece into a scratch recording that grows as a
// live one would, and drive an engine's synchronous passes over it. A file whose audio cannot be
// located or read makes them write "cannot read WAV" to standard error and return 1.

// "--caption-sim WAV": one caption pass per CAPTION_INTERVAL of audio; prints each caption shown
// as "[n] caption". 1 when the caption model is missing.
int runCaptionSim(const std::string& wav);

// "--spec-sim WAV": the chunk engine over the audio, then 2.5 s of silence, a speculative pass,
// 0.5 s more and the stop; prints how long the speculative decode ran before the stop and how
// long the stop waited, then the formatted transcript (0), or that there was no cache (2).
int runSpecSim(const std::string& wav);

// "--chunk-sim WAV": the chunk engine over the audio, one cut per CHUNK_SECONDS, then the stop;
// prints the formatted transcript (0), or that no cache was built (2); 1 when chunking is off.
int runChunkSim(const std::string& wav);

} // namespace vak
