#include "app/cli_transcribe.h"

#include "app/daemon_startup.h"
#include "audio/wav.h"
#include "base/files.h"
#include "base/numbers.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "base/virtual_queue.h"
#include "foundation/process_values.h"
#include "session/recall.h"
#include "text/formatting.h"
#include "transcribe/caption_engine.h"
#include "transcribe/chunk_engine.h"
#include "transcribe/chunk_sim.h"
#include "transcribe/decode_router.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::uint64_t kCopyBlockBytes = 1 << 20;

// The audio of a replayed file: where its samples start and how many bytes of them there are.
struct SourceAudio {
    UniqueFd fd;
    std::uint64_t dataOffset = 0;
    std::uint64_t bytes = 0; // even

    double seconds() const {
        return static_cast<double>(bytes) / static_cast<double>(kBytesPerSecond);
    }
};

// The replayed file's samples; nothing when it is not a recording the replay can feed to an
// engine as it is (16 kHz mono 16-bit), or not a regular file at all.
std::optional<SourceAudio> openSourceAudio(const std::string& path) {
    const auto layout = readWavLayout(path);
    if (!layout || !layout->isRecordingFormat()) return std::nullopt;
    auto fd = openRegularFile(path);
    if (!fd) return std::nullopt;
    SourceAudio source;
    source.fd = std::move(*fd);
    struct stat info {};
    if (::fstat(source.fd.get(), &info) != 0) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    source.dataOffset = layout->dataOffset;
    source.bytes = size > source.dataOffset ? (size - source.dataOffset) & ~std::uint64_t{1} : 0;
    // What one WAV header can describe.
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max() - 36;
    source.bytes = std::min(source.bytes, limit & ~std::uint64_t{1});
    return source;
}

int cannotRead(const std::string& path) {
    std::cerr << "cannot read " << path << "\n";
    return 1;
}

// The growing recording a replay writes into: a private scratch file with a header for its
// final length, removed when the replay ends.
class ScratchRecording {
  public:
    ScratchRecording(std::string path, std::uint64_t finalBytes) : path_(std::move(path)) {
        if (auto fd = createScratchFile(path_)) {
            if (writeAll(fd->get(), wavHeader(static_cast<std::uint32_t>(finalBytes))))
                fd_ = std::move(*fd);
        }
    }
    ~ScratchRecording() { removeFile(path_); }
    ScratchRecording(const ScratchRecording&) = delete;
    ScratchRecording& operator=(const ScratchRecording&) = delete;

    bool valid() const { return fd_.valid(); }
    const std::string& path() const { return path_; }

    // The file holds the source's audio up to `seconds` (never less than it holds already).
    bool growTo(const SourceAudio& source, double seconds) {
        const auto target =
            std::min(static_cast<std::uint64_t>(std::max(seconds, 0.0) * kBytesPerSecond) &
                         ~std::uint64_t{1},
                     source.bytes);
        std::vector<char> block;
        while (written_ < target) {
            block.resize(static_cast<std::size_t>(std::min(target - written_, kCopyBlockBytes)));
            const ssize_t n = ::pread(source.fd.get(), block.data(), block.size(),
                                      static_cast<off_t>(source.dataOffset + written_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            if (!writeAll(fd_.get(), std::string_view(block.data(), static_cast<std::size_t>(n))))
                return false;
            written_ += static_cast<std::uint64_t>(n);
        }
        return true;
    }

  private:
    std::string path_;
    UniqueFd fd_;
    std::uint64_t written_ = 0;
};

int cannotWrite(const std::string& path) {
    std::cerr << "cannot write " << path << "\n";
    return 1;
}

// A race's loser may still be decoding. This process is about to exit, taking the loser's
// watchdog with it, so it is stopped now rather than left to hang unwatched.
void stopLeftoverDecoders() {
    stopRunningChildren(0.5);
    waitForDecodeEngines(2.0);
}

// One decode of a file through the normal routing, formatted; nothing when no engine gave text.
std::optional<std::string> transcribeForCommandLine(const std::string& wav) {
    const std::string txtBase = processValues().scratch.commandLineBase("clitest", true);
    const auto text = runWhisper({wav, txtBase, DecodeRoute::Auto},
                                 DecodeSettings::from(processValues(), processDecodeMemory()));
    stopLeftoverDecoders();
    // Deleted only now: the loser could otherwise write the transcript file after it was gone.
    removeFile(txtBase + ".txt");
    if (!text) return std::nullopt;
    return formatAndLearn(*text, TranscriptSources::from(processValues()));
}

} // namespace

int runTranscribeFile(const std::string& wav) {
    // Only a WAV file goes on to the engines: a folder, a FIFO or anything else is refused here.
    std::string problem;
    if (!readWavLayout(wav, &problem)) {
        std::cerr << "cannot read " << wav << ": " << problem << "\n";
        return 1;
    }
    const auto text = transcribeForCommandLine(wav);
    if (!text) {
        std::cerr << "transcription failed\n";
        return 1;
    }
    std::cout << *text << "\n";
    return 0;
}

int runRetryFailed() {
    const ScratchFiles& scratch = processValues().scratch;
    const auto kept = scratch.failedRecordings();
    if (kept.empty()) {
        std::cout << "no failed recordings are kept in " << scratch.dir() << "\n";
        return 0;
    }
    int failed = 0;
    for (const KeptRecording& recording : kept) {
        std::cout << recording.path << " (" << keptRecordingTitle(recording) << ")\n";
        const std::string textBase = scratch.retryTextBase();
        const auto text = retryKeptRecording(
            recording.path, textBase, DecodeSettings::from(processValues(), processDecodeMemory()),
            TranscriptSources::from(processValues()));
        stopLeftoverDecoders();
        // Once more: the loser could otherwise write the transcript file after it was gone.
        removeFile(textBase + ".txt");
        if (text) {
            std::cout << *text << "\n";
        } else {
            std::cout << "transcription failed again — the recording stays for another try\n";
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}

int runCaptionSim(const std::string& wav) {
    const auto source = openSourceAudio(wav);
    if (!source) return cannotRead(wav);
    // The engine's own timer on a virtual clock; each pass takes its real time on it.
    const auto queue = std::make_shared<VirtualQueue>(true);
    CaptionSettings settings = CaptionSettings::from(processValues());
    settings.liveCaptions = true; // a replay of them is asked for
    const auto engine = CaptionEngine::create(settings, queue);
    if (!engine->modelAvailable()) {
        std::cout << "CAPTION-SIM: caption model missing\n";
        return 1;
    }
    ScratchRecording recording(processValues().scratch.commandLineBase("captionsim") + ".wav",
                               source->bytes);
    if (!recording.valid()) return cannotWrite(recording.path());

    int shown = 0;
    engine->setDisplay([&shown](const std::string& caption) {
        std::cout << "[" << ++shown << "] " << caption << std::endl;
    });
    engine->start(recording.path());
    bool readable = true;
    while (const auto next = queue->nextStart()) {
        if (*next > source->seconds()) break;
        readable = readable && recording.growTo(*source, *next);
        queue->runNext();
    }
    engine->stop();
    while (queue->runNext()) {
    }
    return readable ? 0 : cannotRead(wav);
}

namespace {

// The chunk engine over the file as the daemon runs it (vak::simulateChunks), each decode taking
// its real time on the virtual clock, and the stop at the file's end: prints what the stop
// waited and what the decoder did, then the transcript.
int replayThroughChunks(const std::string& wav, bool speculative, const std::string& label,
                        const std::string& scratchName) {
    ChunkSettings settings = ChunkSettings::from(processValues());
    if (!settings.enabled()) {
        std::cout << label << ": chunking disabled (CHUNK_SECONDS < 20)\n";
        return 1;
    }
    settings.speculative = speculative;
    const auto source = openSourceAudio(wav);
    if (!source) return cannotRead(wav);
    ChunkSimResult result;
    ChunkSimOptions simOptions;
    // A pre-decode on the resident server is not ended at the stop: the server finishes it.
    simOptions.decodesEndable = !processValues().cfg.useServer;
    bool readFailed = false;
    {
        ScratchRecording recording(processValues().scratch.commandLineBase(scratchName) + ".wav",
                                   source->bytes);
        if (!recording.valid()) return cannotWrite(recording.path());
        result = simulateChunks(
            settings, recording.path(), source->seconds(),
            [&](double seconds) {
                if (!recording.growTo(*source, seconds)) readFailed = true;
            },
            [](const DecodeRequest& request) {
                return runWhisper(request,
                                  DecodeSettings::from(processValues(), processDecodeMemory()));
            },
            std::make_shared<VirtualQueue>(true), simOptions);
        stopLeftoverDecoders();
    }
    if (readFailed) return cannotRead(wav);
    // Without a cache the daemon decodes the whole recording at the stop; so did the replay.
    const std::string fellBack =
        speculative ? ": no cache — fell back"
                    : ": no cache built (clip shorter than a chunk, or a decode failed)";
    if (!result.text) {
        std::cout << label << fellBack
                  << (result.wholeFile ? ", and the whole-file decode failed too\n" : "\n");
        return 2;
    }
    const double busy = result.busySeconds();
    std::cout << label << (result.wholeFile ? fellBack + "; whole-file decode:" : ":")
              << " wait after stop = " << fixedDecimals(result.wait(), 2) << "s; "
              << result.decodes.size() << " decoder calls (" << result.count("chunk") << " chunks, "
              << result.count("spec") << " pre-decoded, " << result.count("tail") << " at the stop"
              << (result.wholeFile ? ", 1 of the whole recording" : "") << "), decoder busy "
              << fixedDecimals(busy, 1) << "s of " << fixedDecimals(result.stopAt, 1) << "s ("
              << fixedDecimals(100 * busy / std::max(result.stopAt, 0.1), 0) << " %)\n"
              << formatAndLearn(*result.text, TranscriptSources::from(processValues())) << "\n";
    return result.wholeFile ? 2 : 0;
}

} // namespace

int runSpecSim(const std::string& wav) {
    return replayThroughChunks(wav, true, "SPEC-SIM", "specsim");
}

int runChunkSim(const std::string& wav) {
    return replayThroughChunks(wav, false, "CHUNK-SIM", "chunksim");
}

} // namespace vak
