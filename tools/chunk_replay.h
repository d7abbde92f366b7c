#pragma once

// Replays a recording through the chunk engine as the daemon would run it, in virtual time: the
// audio grows at real speed, the chunk timer fires every CHUNK_SECONDS and the speculative timer
// every 2 s on the engine's one serial queue, and every decode keeps that queue busy for as long
// as a modelled decoder would take (fixed + per-second cost of the clip), so a tick that falls
// into a decode runs late, as on the real queue. The decoder hears the tone words of the clip
// (tone_words.h) at once, so a 20-minute dictation replays in seconds. Its cost has whisper's
// shape (DecoderCost). At the stop the engine's
// real finish() runs; its wait is the modelled decode time plus the real time it took.

#include "base/files.h"
#include "transcribe/decode_router.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace replay {

// A recording being made: a private file with a header whose sizes still say 0, to which the
// samples are appended as time passes. Removed with the object.
class GrowingRecording {
  public:
    GrowingRecording(std::string path, std::span<const std::int16_t> samples);
    ~GrowingRecording();
    GrowingRecording(const GrowingRecording&) = delete;
    GrowingRecording& operator=(const GrowingRecording&) = delete;

    bool valid() const { return fd_.valid(); }
    const std::string& path() const { return path_; }
    // The file holds the audio up to `seconds` (never less than it already holds).
    void growTo(double seconds);

  private:
    std::string path_;
    std::span<const std::int16_t> samples_;
    vak::UniqueFd fd_;
    std::size_t written_ = 0;
};

// What one decode costs, shaped like whisper's: a model load per call on the whisper-cli path
// (none on the resident server), one encoder pass for every 30-second window the clip starts
// (whisper pads every clip to a whole window, so 3 s cost what 30 s cost), and the decoder's
// steps, a cost per word.
struct DecoderCost {
    double loadSeconds = 0;
    double encoderSeconds = 2;
    double perWordSeconds = 0.04;

    double of(double clipSeconds, std::size_t words) const;
    // The model behind the figures: an encoder pass of `encoderSeconds`; per word a fiftieth of
    // it (a beam of 5 over the model's decoder); on the whisper-cli path a load of half an
    // encoder pass (the file read from the page cache, the context built).
    static DecoderCost whisper(double encoderSeconds, bool viaCli);
};

struct Options {
    double chunkSeconds = 30;
    bool speculative = true;
    DecoderCost cost;
    std::string scratchDir; // the growing recording and the engine's clips
    // The stop, in seconds of audio (at most the audio's length).
    double stopAt = std::numeric_limits<double>::infinity();
    // Stop `stopDelay` seconds after the first speculative decode that starts at or after this
    // time has finished, if that comes before stopAt.
    std::optional<double> stopAfterSpeculativeFrom;
    double stopDelay = 0.5;
};

struct Decode {
    std::string kind;       // "chunk", "spec" or "tail"
    vak::DecodeRoute route; // the route it asked for
    double clipSeconds = 0;
    double startedAt = 0; // virtual seconds
    double seconds = 0;   // modelled decode time
};

struct Result {
    std::optional<std::string> text; // what finish() delivered
    double stopAt = 0;
    double queueWait = 0;    // the stop waited for work already running (modelled)
    double finishDecode = 0; // decodes finish() itself made (modelled)
    double finishReal = 0;   // real time of finish() besides its decodes
    std::vector<Decode> decodes;
    double wait() const { return queueWait + finishDecode + finishReal; }
};

Result run(std::span<const std::int16_t> samples, const Options& options);

} // namespace replay
