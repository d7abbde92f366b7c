#include "transcribe/chunk_sim.h"

#include "audio/wav.h"
#include "base/files.h"

#include <algorithm>

#include <fcntl.h>

namespace vak {

namespace {

std::string decodeKind(const std::string& textBase) {
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

// The recording so far with a header that says how long it is, as the daemon patches it.
bool copyWholeRecording(const std::string& wav, const std::string& clip) {
    const auto offset = findWavDataOffset(wav);
    const auto size = fileSize(wav);
    UniqueFd fd(::open(wav.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!offset || !size || !fd.valid() || *size <= static_cast<std::int64_t>(*offset))
        return false;
    const auto bytes = (static_cast<std::uint64_t>(*size) - *offset) & ~std::uint64_t{1};
    return copyWavRange(fd.get(), *offset, 0, bytes, clip);
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
    const double begin = queue->now();
    auto stopAt = std::make_shared<double>(begin + std::min(options.stopAt, audioSeconds));
    const auto engine = ChunkEngine::create(settings, queue);
    std::weak_ptr<ChunkEngine> weak = engine;
    engine->setTranscribe(
        [decodes, decoder, queue, weak, stopAt, begin, &growTo, endable = options.decodesEndable](
            const DecodeRequest& request) -> std::optional<std::string> {
            SimDecode decode{decodeKind(request.textBase), request.route, clipSeconds(request.wav),
                             queue->now(), 0};
            std::optional<std::string> text;
            if (decoder) text = decoder(request);
            // The stop came while this decode ran: it happens then, as in the daemon, where the
            // engine may end the decode's process at once.
            if (endable && decode.startedAt < *stopAt && queue->now() > *stopAt) {
                growTo(*stopAt - begin);
                const auto running = weak.lock();
                if (running && running->endPreDecodeForStop(*stopAt)) {
                    queue->takeBackTo(*stopAt);
                    text.reset();
                    decode.ended = true;
                }
            }
            decode.seconds = queue->now() - decode.startedAt;
            decodes->push_back(std::move(decode));
            return text;
        });
    engine->start(wav, 1);

    for (;;) {
        const auto next = queue->nextStart();
        // A stop that comes while a pass runs is queued before any tick due with it.
        if (!next || *next >= *stopAt) break;
        growTo(*next - begin);
        const std::size_t before = decodes->size();
        queue->runNext();
        if (options.stopAfterSpeculativeFrom) {
            for (std::size_t i = before; i < decodes->size(); ++i) {
                const SimDecode& d = (*decodes)[i];
                if (d.kind == "spec" && d.startedAt - begin >= *options.stopAfterSpeculativeFrom)
                    *stopAt = std::min(*stopAt, queue->now() + options.stopDelay);
            }
        }
    }
    growTo(*stopAt - begin);
    queue->advanceTo(*stopAt);
    bool done = false;
    engine->finish([&](std::optional<std::string> text) {
        result.text = std::move(text);
        if (!result.text) {
            // The daemon's fall-back: the whole recording, on the same decoder.
            result.wholeFile = true;
            const std::string base = settings.scratch.chunkBase(1, "whole");
            SimDecode whole{"whole", DecodeRoute::Auto, 0, queue->now(), 0};
            if (copyWholeRecording(wav, base + ".wav")) {
                whole.clipSeconds = clipSeconds(base + ".wav");
                if (decoder) result.text = decoder({base + ".wav", base, DecodeRoute::Auto});
            }
            whole.seconds = queue->now() - whole.startedAt;
            decodes->push_back(std::move(whole));
            removeFile(base + ".wav");
            removeFile(base + ".txt");
        }
        result.doneAt = queue->now();
        done = true;
    });
    while (!done && queue->runNext()) {
    }
    result.stopAt = *stopAt - begin;
    result.doneAt -= begin;
    for (SimDecode d : *decodes) {
        d.startedAt -= begin;
        result.decodes.push_back(std::move(d));
    }
    return result;
}

} // namespace vak
