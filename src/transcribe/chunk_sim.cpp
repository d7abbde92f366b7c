#include "transcribe/chunk_sim.h"

#include "audio/wav.h"
#include "base/files.h"

#include <algorithm>

namespace vak {

namespace {

std::string kindOf(const std::string& textBase) {
    const auto underscore = textBase.rfind('_');
    const std::string suffix =
        underscore == std::string::npos ? textBase : textBase.substr(underscore + 1);
    return suffix == "spec" || suffix == "tail" ? suffix : "chunk";
}

double clipSeconds(const std::string& wav) {
    const auto layout = readWavLayout(wav);
    const auto size = fileSize(wav);
    if (!layout || !size || *size <= static_cast<std::int64_t>(layout->dataOffset)) return 0;
    return static_cast<double>(static_cast<std::uint64_t>(*size) - layout->dataOffset) /
           static_cast<double>(kBytesPerSecond);
}

} // namespace

double ChunkSimResult::busySeconds() const {
    double busy = 0;
    for (const auto& d : decodes)
        busy += d.seconds;
    return busy;
}

std::size_t ChunkSimResult::count(std::string_view kind) const {
    return static_cast<std::size_t>(std::count_if(
        decodes.begin(), decodes.end(), [kind](const SimDecode& d) { return d.kind == kind; }));
}

ChunkSimResult simulateChunks(const ChunkSettings& settings, const std::string& wav,
                              double audioSeconds, const std::function<void(double)>& growTo,
                              ChunkEngine::Transcribe decoder,
                              const std::shared_ptr<VirtualQueue>& queue,
                              const ChunkSimOptions& options) {
    ChunkSimResult result;
    // Everything below runs on this thread, in the queue's tasks.
    auto decodes = std::make_shared<std::vector<SimDecode>>();
    const auto engine = ChunkEngine::create(settings, queue);
    engine->setTranscribe([decodes, decoder = std::move(decoder),
                           queue](const DecodeRequest& request) -> std::optional<std::string> {
        SimDecode decode{kindOf(request.textBase), request.route, clipSeconds(request.wav),
                         queue->now(), 0};
        std::optional<std::string> text;
        if (decoder) text = decoder(request);
        decode.seconds = queue->now() - decode.startedAt;
        decodes->push_back(std::move(decode));
        return text;
    });
    const double begin = queue->now();
    engine->start(wav, 1);

    double stopAt = begin + std::min(options.stopAt, audioSeconds);
    for (;;) {
        const auto next = queue->nextStart();
        // A stop that comes while a pass runs is queued before any tick due with it.
        if (!next || *next >= stopAt) break;
        growTo(*next - begin);
        const std::size_t before = decodes->size();
        queue->runNext();
        if (options.stopAfterSpeculativeFrom) {
            for (std::size_t i = before; i < decodes->size(); ++i) {
                const SimDecode& d = (*decodes)[i];
                if (d.kind == "spec" && d.startedAt - begin >= *options.stopAfterSpeculativeFrom)
                    stopAt = std::min(stopAt, queue->now() + options.stopDelay);
            }
        }
    }
    growTo(stopAt - begin);
    queue->advanceTo(stopAt);
    bool done = false;
    engine->finish([&](std::optional<std::string> text) {
        result.text = std::move(text);
        result.doneAt = queue->now();
        done = true;
    });
    while (!done && queue->runNext()) {
    }
    result.stopAt = stopAt - begin;
    result.doneAt -= begin;
    for (SimDecode d : *decodes) {
        d.startedAt -= begin;
        result.decodes.push_back(std::move(d));
    }
    return result;
}

} // namespace vak
