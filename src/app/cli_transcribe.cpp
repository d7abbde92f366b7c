#include "app/cli_transcribe.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/numbers.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "foundation/process_values.h"
#include "session/recall.h"
#include "text/formatting.h"
#include "transcribe/caption_engine.h"
#include "transcribe/chunk_engine.h"
#include "transcribe/decode_router.h"

#include <algorithm>
#include <cerrno>
#include <future>
#include <iostream>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::uint64_t kSpecSimSilenceBeforeBytes = 80000; // 2.5 s
constexpr std::uint64_t kSpecSimSilenceAfterBytes = 16000;  // 0.5 s
constexpr std::uint64_t kCopyBlockBytes = 1 << 20;

// The audio of a replayed file: where its samples start and how many bytes of them there are.
struct SourceAudio {
    UniqueFd fd;
    std::uint64_t dataOffset = 0;
    std::uint64_t bytes = 0; // even
};

// The replayed file's samples; nothing when it is not a recording the replay can feed to an
// engine as it is (16 kHz mono 16-bit), or not a regular file at all.
std::optional<SourceAudio> openSourceAudio(const std::string& path, std::uint64_t headroom) {
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
    // What one WAV header can describe, with room for what the replay appends.
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max() - 36 - headroom;
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

    // Appends [from, from + count) of the source's samples.
    bool append(const SourceAudio& source, std::uint64_t from, std::uint64_t count) {
        std::vector<char> block;
        while (count > 0) {
            block.resize(static_cast<std::size_t>(std::min(count, kCopyBlockBytes)));
            const ssize_t n = ::pread(source.fd.get(), block.data(), block.size(),
                                      static_cast<off_t>(source.dataOffset + from));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            if (!writeAll(fd_.get(), std::string_view(block.data(), static_cast<std::size_t>(n))))
                return false;
            from += static_cast<std::uint64_t>(n);
            count -= static_cast<std::uint64_t>(n);
        }
        return true;
    }
    bool appendSilence(std::uint64_t count) {
        return writeAll(fd_.get(), std::string(static_cast<std::size_t>(count), '\0'));
    }

  private:
    std::string path_;
    UniqueFd fd_;
};

int cannotWrite(const std::string& path) {
    std::cerr << "cannot write " << path << "\n";
    return 1;
}

std::uint64_t pieceBytes(double seconds) {
    return std::max<std::uint64_t>(
        static_cast<std::uint64_t>(seconds * kBytesPerSecond) & ~std::uint64_t{1}, 2);
}

// Appends the whole source in pieces, running `afterPiece` after each.
template <typename Pass>
bool replayPieces(ScratchRecording& recording, const SourceAudio& source, std::uint64_t piece,
                  Pass afterPiece) {
    for (std::uint64_t at = 0; at < source.bytes; at += piece) {
        if (!recording.append(source, at, std::min(piece, source.bytes - at))) return false;
        afterPiece();
    }
    return true;
}

std::optional<std::string> finishAndWait(ChunkEngine& engine) {
    std::promise<std::optional<std::string>> result;
    auto text = result.get_future();
    engine.finish([&result](std::optional<std::string> value) { result.set_value(value); });
    return text.get();
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
    const auto text = runWhisper({wav, txtBase, DecodeRoute::Auto});
    stopLeftoverDecoders();
    // Deleted only now: the loser could otherwise write the transcript file after it was gone.
    removeFile(txtBase + ".txt");
    if (!text) return std::nullopt;
    return formatAndLearn(*text);
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
        const auto text = retryKeptRecording(recording.path, textBase);
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
    const auto source = openSourceAudio(wav, 0);
    if (!source) return cannotRead(wav);
    const auto engine = CaptionEngine::create();
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
    engine->simStart(recording.path());
    if (!replayPieces(recording, *source, pieceBytes(cfg().captionInterval),
                      [&engine] { engine->simPass(); }))
        return cannotRead(wav);
    return 0;
}

int runSpecSim(const std::string& wav) {
    const auto source =
        openSourceAudio(wav, kSpecSimSilenceBeforeBytes + kSpecSimSilenceAfterBytes);
    if (!source) return cannotRead(wav);
    ScratchRecording recording(processValues().scratch.commandLineBase("specsim") + ".wav",
                               source->bytes + kSpecSimSilenceBeforeBytes +
                                   kSpecSimSilenceAfterBytes);
    if (!recording.valid()) return cannotWrite(recording.path());

    const auto engine = ChunkEngine::create();
    engine->simStart(recording.path(), 0);
    if (!replayPieces(recording, *source, pieceBytes(std::max(cfg().chunkSeconds, 20.0)),
                      [&engine] { engine->simFire(); }))
        return cannotRead(wav);
    if (!recording.appendSilence(kSpecSimSilenceBeforeBytes)) return cannotWrite(recording.path());
    const auto specStart = SteadyClock::now();
    engine->simSpec();
    if (!recording.appendSilence(kSpecSimSilenceAfterBytes)) return cannotWrite(recording.path());
    const auto stop = SteadyClock::now();
    const auto text = finishAndWait(*engine);
    const double waited = secondsSince(stop);
    const double specLead = std::chrono::duration<double>(stop - specStart).count();
    stopLeftoverDecoders();

    if (!text) {
        std::cout << "SPEC-SIM: no cache — fell back\n";
        return 2;
    }
    std::cout << "SPEC-SIM: spec decode ran " << fixedDecimals(specLead, 1)
              << "s BEFORE the tap; wait AFTER stop = " << fixedDecimals(waited, 2) << "s\n"
              << formatAndLearn(*text) << "\n";
    return 0;
}

int runChunkSim(const std::string& wav) {
    if (!ChunkSettings::fromProcess().enabled()) {
        std::cout << "CHUNK-SIM: chunking disabled (CHUNK_SECONDS < 20)\n";
        return 1;
    }
    const auto source = openSourceAudio(wav, 0);
    if (!source) return cannotRead(wav);
    std::optional<std::string> text;
    {
        ScratchRecording recording(processValues().scratch.commandLineBase("chunksim") + ".wav",
                                   source->bytes);
        if (!recording.valid()) return cannotWrite(recording.path());
        const auto engine = ChunkEngine::create();
        engine->simStart(recording.path(), 0);
        if (!replayPieces(recording, *source, pieceBytes(cfg().chunkSeconds),
                          [&engine] { engine->simFire(); }))
            return cannotRead(wav);
        text = finishAndWait(*engine);
        stopLeftoverDecoders();
    }
    if (!text) {
        std::cout << "CHUNK-SIM: no cache built (clip shorter than a chunk, or a decode failed)\n";
        return 2;
    }
    std::cout << formatAndLearn(*text) << "\n";
    return 0;
}

} // namespace vak
