#pragma once

#include "base/virtual_queue.h"
#include "transcribe/chunk_engine.h"

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// One decode a replay's chunk engine asked for.
struct SimDecode {
    std::string kind;  // "chunk", "spec" or "tail" (the one at the stop)
    DecodeRoute route; // the route it asked for
    double clipSeconds = 0;
    double startedAt = 0; // on the virtual clock
    double seconds = 0;   // how long it took there
    bool ended = false;   // a pre-decode ended at the stop
};

struct ChunkSimResult {
    std::optional<std::string> text; // what finish() delivered, else the whole-file decode's
    bool wholeFile = false;          // finish() left the whole recording to decode
    double stopAt = 0;
    double doneAt = 0; // when the transcript was there
    std::vector<SimDecode> decodes;

    double wait() const { return doneAt - stopAt; }
    double busySeconds() const;
    std::size_t count(std::string_view kind) const;
};

struct ChunkSimOptions {
    // The stop, in seconds of audio (at most the audio's length).
    double stopAt = std::numeric_limits<double>::infinity();
    // Stop `stopDelay` seconds after the first speculative decode that starts at or after this
    // time has finished, if that comes before stopAt.
    std::optional<double> stopAfterSpeculativeFrom;
    double stopDelay = 0.5;
    // Whether a decode can be ended at the stop: whisper-cli's process can, a request to the
    // resident server cannot (the server finishes it).
    bool decodesEndable = true;
};

// Replays a recording through the chunk engine as the daemon runs it: the engine's own timers (a
// cut every CHUNK_SECONDS, a pause check every 2 s) on the virtual clock of `queue`, the
// recording growing with the clock, and every decode taking the time `decoder` takes on that
// clock (its real time on a queue that counts it; a modelled decoder elapses the queue itself).
// So a tick that falls into a decode runs late, and the stop waits for the decode still running
// and then for the tail, as a user would; a pre-decode the engine ends at the stop ends there.
// When finish() delivers nothing, the recording is decoded whole ("whole"), as the daemon
// does, and the wait includes that. `growTo(seconds)` makes the recording at `wav` hold
// the audio up to that time.
ChunkSimResult simulateChunks(const ChunkSettings& settings, const std::string& wav,
                              double audioSeconds, const std::function<void(double)>& growTo,
                              ChunkEngine::Transcribe decoder,
                              const std::shared_ptr<VirtualQueue>& queue,
                              const ChunkSimOptions& options = {});

} // namespace vak
