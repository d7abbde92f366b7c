#include "transcribe/engine_threads.h"

#include <algorithm>

#include <unistd.h>

namespace vak {

EngineThreads engineThreads(long cores, bool captions, bool sharedServer) {
    cores = std::max(cores, 1L);
    EngineThreads threads;
    if (captions && sharedServer) {
        const int half = static_cast<int>(std::clamp(cores / 2, 1L, 8L));
        return {half, half};
    }
    // Captions use a small model on a short window: a quarter of the cores serves them.
    if (captions) threads.captions = static_cast<int>(std::clamp(cores / 4, 1L, 4L));
    threads.decode = static_cast<int>(std::clamp(cores - threads.captions, 1L, 8L));
    return threads;
}

EngineThreads engineThreads(bool captions, bool sharedServer) {
    return engineThreads(::sysconf(_SC_NPROCESSORS_ONLN), captions, sharedServer);
}

std::vector<std::string> engineEnvironment(int threads) {
    return {"OMP_WAIT_POLICY=passive", "OMP_THREAD_LIMIT=" + std::to_string(std::max(threads, 1))};
}

} // namespace vak
