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

// The replays below run an engine with the daemon's own timers on a virtual clock: the file's
// audio is copied into a scratch recording as the clock moves, and every decode takes its real
// time on it, so a pass that falls into a decode runs late and the stop waits for what a user
// would wait for, while the replay itself takes no longer than its decodes. A file whose audio
// cannot be located or read makes them write "cannot read WAV" to standard error and return 1.

// "--caption-sim WAV": a caption pass every CAPTION_INTERVAL; prints each caption shown as
// "[n] caption". 1 when the caption model is missing.
int runCaptionSim(const std::string& wav);

// "--chunk-sim WAV" and "--spec-sim WAV": the chunk engine over the audio with the stop at its
// end, rolling chunks only (chunk-sim) or with the speculative tail too (spec-sim). Prints the
// wait after the stop, the decoder calls and the decoder's busy time, then the formatted
// transcript (0), or that no cache was built (2); 1 when chunking is off (CHUNK_SECONDS < 20).
int runChunkSim(const std::string& wav);
int runSpecSim(const std::string& wav);

} // namespace vak
