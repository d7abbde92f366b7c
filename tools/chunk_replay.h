#pragma once

// Replays a tone-word recording through the chunk engine as the daemon runs it
// (vak::simulateChunks: the engine's own timers on a virtual clock), with a decoder that hears
// the tone words of each clip (tone_words.h) at once and takes the time whisper would
// (DecoderCost), so a 20-minute dictation replays in seconds.

#include "base/files.h"
#include "transcribe/chunk_sim.h"

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

// What one decode costs: a model load per call on the whisper-cli path (none on a resident
// server), an encoder pass for every window the clip starts (whisper pads every clip to a whole
// 30-second window, so 3 s cost what 30 s cost; with no window, one fixed part per call), a cost
// per second of audio (an encoder that runs over the clip only) and the decoder's steps, a cost
// per word.
struct DecoderCost {
    double loadSeconds = 0;
    double encoderSeconds = 2;
    double perWordSeconds = 0.04;
    double perAudioSecond = 0;
    double windowSeconds = 30; // 0: no window

    double of(double clipSeconds, std::size_t words) const;
    // The model behind whisper's figures: an encoder pass of `encoderSeconds`; per word a
    // fiftieth of it (a beam of 5 over the model's decoder); on the whisper-cli path a load of
    // half an encoder pass (the file read from the page cache, the context built).
    static DecoderCost whisper(double encoderSeconds, bool viaCli);
    // An engine whose cost follows the clip, in a resident process: `perCallSeconds` a call and
    // `perAudioSecond` a second of audio.
    static DecoderCost followingClip(double perCallSeconds, double perAudioSecond);
};

struct Options {
    double chunkSeconds = 30;
    bool speculative = true;
    DecoderCost cost;
    // What the chunk engine cuts its pieces to: the shape of the engine the cost stands for.
    vak::DecodeCostShape shape = vak::decodeCostShape(vak::SpeechEngine::Whisper);
    std::string scratchDir; // the growing recording and the engine's clips
    vak::ChunkSimOptions stop;
};

vak::ChunkSimResult run(std::span<const std::int16_t> samples, const Options& options);

} // namespace replay
