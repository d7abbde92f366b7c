#pragma once

#include "transcribe/chunk_engine.h"
#include "transcribe/decode_router.h"

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vak::test {

// One call of a ToneDecoder.
struct HeardClip {
    std::string file;  // the clip's file name, without the folder
    std::string kind;  // "chunk", "spec" or "tail", from the name
    DecodeRoute route; // the process-wide route during the call
    double seconds = 0;
    std::string text;
};

// A decoder for the chunk engine that hears the tone words of each clip in this process and
// notes every call. Chunk decodes can be told to fail.
class ToneDecoder {
  public:
    ChunkEngine::Transcribe transcribe() const;
    std::vector<HeardClip> clips() const;
    std::vector<std::string> kinds() const;
    // The n-th chunk decode (0-based) returns nothing.
    void failChunk(int n) const;

  private:
    struct State {
        std::mutex mutex;
        std::vector<HeardClip> clips;
        std::set<int> failing;
        int chunks = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace vak::test
