#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

// Recordings are 16 kHz mono signed 16-bit little-endian PCM behind a 44-byte header; one
// second is 32000 bytes. Offsets into the sample data ("data-relative") are kept even.
inline constexpr std::uint64_t kWavHeaderBytes = 44;
inline constexpr std::uint64_t kBytesPerSecond = 32000;

std::string le16(std::uint16_t value);
std::string le32(std::uint32_t value);

// The 44-byte header for `dataBytes` bytes of samples; dataBytes + 36 must fit in 32 bits.
std::string wavHeader(std::uint32_t dataBytes);

// Header and samples in one write, replacing whatever is at `path` (the new file is private and
// never written through a link). False when `data` is too long for a WAV file or the write
// failed; callers may ignore it.
bool writeWav16kMono(std::string_view data, const std::string& path);

// What the program needs to know of a WAV file: where its samples start and how they are coded.
struct WavLayout {
    std::uint64_t dataOffset = 0; // file offset of the first sample byte
    std::uint16_t format = 0;     // 1 PCM, 3 floating point, 0xFFFE extensible
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;

    bool isRecordingFormat() const; // 16 kHz mono 16-bit PCM
};

// Walks the chunks within the first 8192 bytes: a "RIFF"/"WAVE" header, then a well-formed
// "fmt " chunk (a sample format of PCM or floating point, its sizes agreeing with one another)
// before the "data" chunk, whose size field is never trusted (a file being recorded still says
// 0 there). Nothing when the file is not such a WAV file; `problem` then says why ("is a FIFO",
// "is not a WAV file", "has no sample format before its data"…). Never blocks on a FIFO.
std::optional<WavLayout> readWavLayout(const std::string& path, std::string* problem = nullptr);
// readWavLayout's data offset.
std::optional<std::uint64_t> findWavDataOffset(const std::string& path);
// Where a live recording's samples are assumed to start while its header cannot be read yet.
inline constexpr std::uint64_t kAssumedDataOffset = 4096;

// Sets the size fields of a recording whose writer ended before its stop (a killed daemon) from
// the file's length, and returns how many sample bytes it holds. Nothing when it is not a
// recording-format WAV file or cannot be written; a link is never followed.
std::optional<std::uint64_t> patchWavSizesFromLength(const std::string& path);

// The measurements below read only the bytes they need, at explicit offsets, from a file that
// may still be growing. `fd` is open for reading; `dataOff` is what findWavDataOffset returned.

// RMS in raw sample units (full scale 32767) of the data-relative range [from, to), measured on
// at most its first 10 seconds. 0 for an empty or inverted range or a short read.
double rangeRMS(int fd, std::uint64_t dataOff, std::uint64_t from, std::uint64_t to);

// A data-relative offset inside (from + 1 s, to) at the middle of the quietest 320 ms of the
// last `lookback` bytes before `to`, where a recording can be split between words; nothing when
// that stretch is not clearly quieter than the rest (or not shorter than the 120 floor).
std::optional<std::uint64_t> quietCutPoint(int fd, std::uint64_t dataOff, std::uint64_t from,
                                           std::uint64_t to, std::uint64_t lookback);

// The middle of the longest pause in the last `lookback` bytes before `to`, strictly inside
// (from, to): the longest run of 20 ms windows quieter than a sixth of the stretch's mean level
// (and than the 120 floor at least), at least 160 ms long, the latest of equally long ones. Where
// to split speech so that the pieces end with a sentence rather than at a comma. Nothing when
// the stretch holds no such pause.
std::optional<std::uint64_t> longestPause(int fd, std::uint64_t dataOff, std::uint64_t from,
                                          std::uint64_t to, std::uint64_t lookback);

// The middle of the quietest 60 ms of the last `lookback` bytes before `to`, strictly inside
// (from, to), the latest of equally quiet ones: where to split speech that never pauses, so the
// split falls between two words rather than through one, or the quietest moment of a pause.
// Nothing when no 60 ms of audio can be read there.
std::optional<std::uint64_t> quietestPoint(int fd, std::uint64_t dataOff, std::uint64_t from,
                                           std::uint64_t to, std::uint64_t lookback);

// Writes the data-relative range [from, to) of the recording behind `fd` to `path` as a WAV
// file of its own (a fresh private scratch file, copied in blocks, never all in memory). A
// range the recording does not hold yet is cut to what is there, and the header says so.
// False when nothing could be written.
bool copyWavRange(int fd, std::uint64_t dataOff, std::uint64_t from, std::uint64_t to,
                  const std::string& path);

} // namespace vak
