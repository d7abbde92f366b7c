#pragma once

#include <string>
#include <vector>

namespace vak {

// How the cores are shared among the speech engines a dictation runs at once: the decode engine
// (its voice-activity pass runs inside it, on its threads) and the caption engine. Together they
// never take more than the cores: a thread that finds its core taken holds up every sibling
// waiting for it at the engine's next barrier, and a decode that should take a second takes a
// minute. On one core each still gets one thread.
struct EngineThreads {
    int decode = 1;
    int captions = 0; // 0: no caption engine runs
};
// `sharedServer`: one resident process decodes and captions with one model (Parakeet), and a
// caption pass and a decode may run in it at once, each with the process's thread count: each
// gets half the cores.
EngineThreads engineThreads(long cores, bool captions, bool sharedServer = false);
// The same for this machine's cores.
EngineThreads engineThreads(bool captions, bool sharedServer = false);

// The environment of an engine process that may use `threads` threads: waiting threads sleep
// instead of spinning (a spinning one takes the core a sibling engine needs), and no parallel
// region takes more than `threads` (whisper.cpp's VAD asks for 4 whatever -t says).
std::vector<std::string> engineEnvironment(int threads);

} // namespace vak
