#include "audio/wav.h"

#include "base/files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::size_t kHeaderScanBytes = 8192;
constexpr std::uint64_t kRmsMaxBytes = 10 * kBytesPerSecond;
constexpr std::size_t kMinCutSearchBytes = 20480; // 0.64 s
constexpr std::size_t kWindowSamples = 1280;      // 80 ms
constexpr std::size_t kRunWindows = 4;            // 320 ms
constexpr double kQuietFloor = 120.0;
constexpr std::size_t kShortWindowSamples = 320; // 20 ms
constexpr std::size_t kShortRunWindows = 3;      // 60 ms
constexpr std::size_t kMinPauseWindows = 8;      // 160 ms
constexpr std::uint64_t kCopyBlockBytes = 1 << 20;

std::uint32_t readLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads up to `count` bytes at `offset`; fewer at the end of the file or on an error.
std::vector<unsigned char> readAt(int fd, std::uint64_t offset, std::uint64_t count) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(offset + got));
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    bytes.resize(got);
    return bytes;
}

// Sum of squared samples over `samples` 16-bit little-endian values starting at `p`.
double sumOfSquares(const unsigned char* p, std::size_t samples) {
    double sum = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const auto s = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[2 * i]) |
                                                 static_cast<std::uint16_t>(p[2 * i + 1]) << 8);
        const double v = s;
        sum += v * v;
    }
    return sum;
}

// The level of each whole window of `windowSamples` in `bytes`: its RMS, or with `rms` false its
// sum of squares.
std::vector<double> windowLevels(const std::vector<unsigned char>& bytes, std::size_t windowSamples,
                                 bool rms = true) {
    std::vector<double> levels(bytes.size() / 2 / windowSamples);
    for (std::size_t w = 0; w < levels.size(); ++w) {
        const double sum = sumOfSquares(bytes.data() + w * windowSamples * 2, windowSamples);
        levels[w] = rms ? std::sqrt(sum / static_cast<double>(windowSamples)) : sum;
    }
    return levels;
}

struct Lookback {
    std::uint64_t start = 0; // data-relative offset of bytes[0]
    std::vector<unsigned char> bytes;
};

// The last `lookback` bytes (an even count) of the data-relative range [from, to); the caller
// has made sure that from < to.
Lookback readLookback(int fd, std::uint64_t dataOff, std::uint64_t from, std::uint64_t to,
                      std::uint64_t lookback) {
    const std::uint64_t span = std::min(to - from, lookback) & ~std::uint64_t{1};
    return {to - span, readAt(fd, dataOff + to - span, span)};
}

// The sum of each run of `length` consecutive levels, by where the run starts.
std::vector<double> runSums(const std::vector<double>& levels, std::size_t length) {
    std::vector<double> sums;
    for (std::size_t i = 0; i + length <= levels.size(); ++i) {
        double sum = 0;
        for (std::size_t k = 0; k < length; ++k)
            sum += levels[i + k];
        sums.push_back(sum);
    }
    return sums;
}

} // namespace

std::string le16(std::uint16_t value) {
    return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
}

std::string le32(std::uint32_t value) {
    return {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
            static_cast<char>((value >> 16) & 0xff), static_cast<char>(value >> 24)};
}

std::string wavHeader(std::uint32_t dataBytes) {
    std::string h;
    h.reserve(kWavHeaderBytes);
    h += "RIFF";
    h += le32(dataBytes + 36);
    h += "WAVE";
    h += "fmt ";
    h += le32(16);
    h += le16(1); // PCM
    h += le16(1); // mono
    h += le32(16000);
    h += le32(static_cast<std::uint32_t>(kBytesPerSecond));
    h += le16(2);  // block align
    h += le16(16); // bits per sample
    h += "data";
    h += le32(dataBytes);
    return h;
}

bool writeWav16kMono(std::string_view data, const std::string& path) {
    if (data.size() > std::numeric_limits<std::uint32_t>::max() - 36) return false;
    std::string file = wavHeader(static_cast<std::uint32_t>(data.size()));
    file.append(data);
    auto fd = createScratchFile(path);
    return fd && writeAll(fd->get(), file);
}

bool WavLayout::isRecordingFormat() const {
    return format == 1 && channels == 1 && sampleRate == 16000 && bitsPerSample == 16;
}

namespace {

std::uint16_t readLe16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The sample format of a "fmt " chunk's body, when it describes one the samples can be read in.
std::optional<WavLayout> sampleFormat(const unsigned char* body, std::uint64_t size) {
    if (size < 16) return std::nullopt;
    WavLayout layout;
    layout.format = readLe16(body);
    layout.channels = readLe16(body + 2);
    layout.sampleRate = readLe32(body + 4);
    const std::uint32_t byteRate = readLe32(body + 8);
    const std::uint16_t blockAlign = readLe16(body + 12);
    layout.bitsPerSample = readLe16(body + 14);
    const bool known = layout.format == 1 || layout.format == 3 || layout.format == 0xFFFE;
    const std::uint32_t frameBytes = layout.channels * ((layout.bitsPerSample + 7U) / 8U);
    if (!known || layout.channels == 0 || layout.sampleRate == 0 || layout.bitsPerSample == 0 ||
        layout.bitsPerSample > 64 || blockAlign != frameBytes ||
        byteRate != static_cast<std::uint64_t>(layout.sampleRate) * blockAlign)
        return std::nullopt;
    return layout;
}

} // namespace

std::optional<WavLayout> readWavLayout(const std::string& path, std::string* problem) {
    auto fail = [problem](std::string why) -> std::optional<WavLayout> {
        if (problem != nullptr) *problem = std::move(why);
        return std::nullopt;
    };
    std::string opened;
    const auto fd = openRegularFile(path, &opened);
    if (!fd) return fail(opened.empty() ? "does not exist" : opened);
    const auto head = readAt(fd->get(), 0, kHeaderScanBytes);
    const std::size_t n = head.size();
    if (n < kWavHeaderBytes || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WAVE", 4) != 0)
        return fail("is not a WAV file");
    std::optional<WavLayout> layout;
    std::uint64_t off = 12;
    for (;;) {
        if (off + 8 > n) return fail("has no sample data within its first 8192 bytes");
        const unsigned char* chunk = head.data() + off;
        const std::uint64_t size = readLe32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (!layout) return fail("has no valid sample format before its data");
            layout->dataOffset = off + 8;
            return layout;
        }
        if (size > n || off + 8 + size > n) return fail("has a chunk that runs past its header");
        if (std::memcmp(chunk, "fmt ", 4) == 0) layout = sampleFormat(chunk + 8, size);
        off += 8 + size + (size & 1);
    }
}

std::optional<std::uint64_t> findWavDataOffset(const std::string& path) {
    const auto layout = readWavLayout(path);
    if (!layout) return std::nullopt;
    return layout->dataOffset;
}

std::optional<std::uint64_t> patchWavSizesFromLength(const std::string& path) {
    const auto layout = readWavLayout(path);
    if (!layout || !layout->isRecordingFormat()) return std::nullopt;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto length = static_cast<std::uint64_t>(st.st_size);
    if (length < layout->dataOffset) return std::nullopt;
    // A sample cut in half by the kill is not a sample.
    const std::uint64_t data = (length - layout->dataOffset) & ~std::uint64_t{1};
    if (layout->dataOffset + data > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    const std::string riff = le32(static_cast<std::uint32_t>(layout->dataOffset + data - 8));
    const std::string size = le32(static_cast<std::uint32_t>(data));
    const auto sizeAt = static_cast<off_t>(layout->dataOffset - 4);
    if (::pwrite(fd.get(), riff.data(), 4, 4) != 4 ||
        ::pwrite(fd.get(), size.data(), 4, sizeAt) != 4)
        return std::nullopt;
    return data;
}

double rangeRMS(int fd, std::uint64_t dataOff, std::uint64_t from, std::uint64_t to) {
    if (to <= from) return 0;
    const auto bytes = readAt(fd, dataOff + from, std::min(to - from, kRmsMaxBytes));
    const std::size_t samples = bytes.size() / 2;
    if (samples == 0) return 0;
    return std::sqrt(sumOfSquares(bytes.data(), samples) / static_cast<double>(samples));
}

std::optional<std::uint64_t> quietCutPoint(int fd, std::uint64_t dataOff, std::uint64_t from,
                                           std::uint64_t to, std::uint64_t lookback) {
    if (to <= from) return std::nullopt;
    const auto [start, bytes] = readLookback(fd, dataOff, from, to, lookback);
    if (bytes.size() < kMinCutSearchBytes) return std::nullopt;

    const std::size_t windows = bytes.size() / 2 / kWindowSamples;
    if (windows < kRunWindows) return std::nullopt;
    const std::vector<double> rms = windowLevels(bytes, kWindowSamples);
    const double total = std::accumulate(rms.begin(), rms.end(), 0.0);
    const double mean = total / static_cast<double>(windows);

    std::size_t quietest = 0;
    double quietestAverage = std::numeric_limits<double>::infinity();
    const std::vector<double> sums = runSums(rms, kRunWindows);
    for (std::size_t i = 0; i < sums.size(); ++i) {
        const double average = sums[i] / kRunWindows;
        if (average < quietestAverage) { // strict: ties keep the earliest run
            quietestAverage = average;
            quietest = i;
        }
    }
    if (!(quietestAverage < std::max(mean * 0.25, kQuietFloor))) return std::nullopt;

    const std::uint64_t cut = (start + (quietest + 2) * kWindowSamples * 2) & ~std::uint64_t{1};
    if (from + kBytesPerSecond < cut && cut < to) return cut;
    return std::nullopt;
}

std::optional<std::uint64_t> quietestPoint(int fd, std::uint64_t dataOff, std::uint64_t from,
                                           std::uint64_t to, std::uint64_t lookback) {
    if (to <= from) return std::nullopt;
    const auto [start, bytes] = readLookback(fd, dataOff, from, to, lookback);
    const std::size_t windows = bytes.size() / 2 / kShortWindowSamples;
    if (windows < kShortRunWindows) return std::nullopt;
    const std::vector<double> energy = windowLevels(bytes, kShortWindowSamples, false);

    std::optional<std::uint64_t> best;
    double bestEnergy = std::numeric_limits<double>::infinity();
    const std::vector<double> sums = runSums(energy, kShortRunWindows);
    for (std::size_t i = 0; i < sums.size(); ++i) {
        const double sum = sums[i];
        // The middle of the run, in whole samples.
        const std::uint64_t point =
            start + (i * kShortWindowSamples + kShortWindowSamples * kShortRunWindows / 2) * 2;
        if (point <= from || point >= to) continue;
        if (sum <= bestEnergy) { // ties keep the latest, so the piece before it is the longest
            bestEnergy = sum;
            best = point;
        }
    }
    return best;
}

std::optional<std::uint64_t> longestPause(int fd, std::uint64_t dataOff, std::uint64_t from,
                                          std::uint64_t to, std::uint64_t lookback) {
    if (to <= from) return std::nullopt;
    const auto [start, bytes] = readLookback(fd, dataOff, from, to, lookback);
    const std::size_t windows = bytes.size() / 2 / kShortWindowSamples;
    if (windows < kMinPauseWindows) return std::nullopt;
    const std::vector<double> rms = windowLevels(bytes, kShortWindowSamples);
    const double total = std::accumulate(rms.begin(), rms.end(), 0.0);
    const double quiet = std::max(total / static_cast<double>(windows) / 6, kQuietFloor);

    std::optional<std::uint64_t> best;
    std::size_t bestRun = kMinPauseWindows - 1;
    std::size_t run = 0;
    for (std::size_t w = 0; w <= windows; ++w) {
        if (w < windows && rms[w] < quiet) {
            ++run;
            continue;
        }
        // The run ending before window w; the middle of it, in whole samples.
        const std::uint64_t point =
            start +
            (((w - run) * kShortWindowSamples * 2 + run * kShortWindowSamples) & ~std::uint64_t{1});
        if (run >= bestRun && from < point && point < to) {
            bestRun = run;
            best = point;
        }
        run = 0;
    }
    return best;
}

bool copyWavRange(int fd, std::uint64_t dataOff, std::uint64_t from, std::uint64_t to,
                  const std::string& path) {
    const std::uint64_t wanted = to > from ? (to - from) & ~std::uint64_t{1} : 0;
    if (wanted > std::numeric_limits<std::uint32_t>::max() - 36) return false;
    auto out = createScratchFile(path);
    if (!out) return false;
    if (!writeAll(out->get(), wavHeader(static_cast<std::uint32_t>(wanted)))) return false;
    std::uint64_t copied = 0;
    while (copied < wanted) {
        const std::uint64_t request = std::min(kCopyBlockBytes, wanted - copied);
        const auto block = readAt(fd, dataOff + from + copied, request);
        const std::size_t whole = block.size() & ~std::size_t{1};
        if (whole > 0 &&
            !writeAll(out->get(),
                      std::string_view(reinterpret_cast<const char*>(block.data()), whole)))
            return false;
        copied += whole;
        if (whole < request) break; // the recording ends here
    }
    if (copied < wanted) {
        const std::string header = wavHeader(static_cast<std::uint32_t>(copied));
        if (::pwrite(out->get(), header.data(), header.size(), 0) !=
            static_cast<ssize_t>(header.size()))
            return false;
    }
    return true;
}

} // namespace vak
