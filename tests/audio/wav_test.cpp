#include "audio/wav.h"
#include "base/files.h"
#include "support/temp_dir.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

// `seconds` of samples of constant magnitude `level` (alternating sign, so RMS = level).
std::string samples(double seconds, int level) {
    std::string bytes;
    const auto count = static_cast<std::size_t>(seconds * 16000);
    for (std::size_t i = 0; i < count; ++i)
        bytes +=
            le16(static_cast<std::uint16_t>(static_cast<std::int16_t>(i % 2 ? -level : level)));
    return bytes;
}

class WavFormat : public testing::Test {
  protected:
    UniqueFd recording(const std::string& audio) const {
        writeWav16kMono(audio, path);
        return UniqueFd(::open(path.c_str(), O_RDONLY));
    }

    test::TempDir dir;
    std::string path = dir.file("rec.wav");
};
using WavLevels = WavFormat;

TEST_F(WavFormat, DataOffsetWalksChunksAndRejectsForeignFiles) {
    const std::string fmt = wavHeader(0).substr(12, 24); // "fmt " chunk
    const std::string riff = std::string("RIFF") + le32(0) + "WAVE";
    const std::string data = "data" + le32(0) + samples(0.1, 1);
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::uint64_t> offset;
    };
    const Case cases[] = {
        {"still recording (sizes 0)", wavHeader(0) + samples(0.1, 500), 44},
        {"LIST chunk before data", riff + fmt + "LIST" + le32(10) + std::string(10, 'i') + data,
         36 + 18 + 8},
        {"odd chunk skipped with its pad byte",
         riff + fmt + "junk" + le32(3) + "abc" + std::string(1, '\0') + data, 36 + 12 + 8},
        {"not RIFF", "RIFX" + wavHeader(0).substr(4) + samples(0.1, 1), std::nullopt},
        {"data header beyond 8192 bytes",
         riff + fmt + "pad " + le32(8144) + std::string(8144, 'p') + data, std::nullopt},
        {"fmt sizes disagree", riff + fmt.substr(0, 20) + le16(4) + fmt.substr(22) + data,
         std::nullopt},
    };
    for (const auto& c : cases) {
        writeFixture(path, c.bytes);
        EXPECT_EQ(findWavDataOffset(path), c.offset) << c.name;
    }
}

TEST_F(WavLevels, RmsMeasuresTheRangeAndOnlyItsFirstTenSeconds) {
    const auto wav = recording(samples(10, 1000) + samples(10, 4000));
    EXPECT_NEAR(rangeRMS(wav.get(), 44, 0, 640000), 1000, 1e-6);
    EXPECT_NEAR(rangeRMS(wav.get(), 44, 160000, 480000), std::sqrt((1e6 + 16e6) / 2), 1e-6);
    EXPECT_EQ(rangeRMS(wav.get(), 44, 960000, 992000), 0); // beyond the end: nothing read
    // Full-scale negative samples square without overflow.
    const auto extreme = recording(std::string(2, '\0') + le16(0x8000));
    EXPECT_NEAR(rangeRMS(extreme.get(), 44, 0, 4), std::sqrt(32768.0 * 32768 / 2), 1e-6);
}

// Where a recording can be split between words: the middle of a clear pause only. (The engine
// tests show the other split points: no piece they cut ends inside a word.)
TEST_F(WavLevels, QuietCutPointFindsTheMiddleOfAClearPauseOnly) {
    // 2.4 s speech, 0.48 s silence, 1 s speech: the cut is two 80 ms windows into the pause.
    const std::string pause = samples(2.4, 3000) + samples(0.48, 0) + samples(1, 3000);
    const std::uint64_t inPause = 76800 + 2 * 2560;
    // A quarter of this recording's mean is below 100, but the 120 floor makes the pause quiet.
    const std::string faint = samples(2.4, 300) + samples(0.48, 100) + samples(1, 300);
    const std::string equalPauses =
        samples(2, 3000) + samples(0.4, 0) + samples(1, 3000) + samples(0.4, 0) + samples(1, 3000);
    struct Case {
        const char* name;
        std::string audio;
        std::uint64_t from;
        std::uint64_t lookback;
        std::optional<std::uint64_t> cut;
    };
    const Case cases[] = {
        {"clear pause", pause, 0, 1000000, inPause},
        {"steady speech", samples(5, 3000), 0, 1000000, std::nullopt},
        {"under 0.64 s looked at", pause, 0, 20478, std::nullopt},
        {"120 floor in a faint recording", faint, 0, 1000000, inPause},
        {"pause within a second of from", pause, 56800, 1000000, std::nullopt},
        {"pause right at the end", samples(2, 3000) + samples(0.32, 0), 0, 1000000, 69120},
        {"earliest of equal pauses", equalPauses, 0, 1000000, 69120},
        {"nothing to read", pause, pause.size(), 64000, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto wav = recording(c.audio);
        EXPECT_EQ(quietCutPoint(wav.get(), 44, c.from, c.audio.size(), c.lookback), c.cut)
            << c.name;
    }
}

// A recording or a range copied out of it is a private WAV file of its own, replacing what was
// there; a link planted at its name is replaced, not written through.
TEST_F(WavFormat, ARangeCopiedOutIsAWavOfItsOwnCutToWhatIsThere) {
    writeFixture(path, std::string(100000, 'x'));
    std::string audio;
    for (int i = 0; i < 32000; ++i)
        audio += le16(static_cast<std::uint16_t>(i));
    const auto wav = recording(audio);
    EXPECT_EQ(readFixture(path), wavHeader(64000) + audio);
    EXPECT_EQ(filePermissions(path), 0600u);
    const std::string clip = dir.file("clip.wav");
    writeFixture(dir.file("target"), "keep");
    std::filesystem::create_symlink(dir.file("target"), clip);
    struct Case {
        std::uint64_t from;
        std::uint64_t to;
        std::string expected;
    };
    const Case cases[] = {
        {1000, 21000, wavHeader(20000) + audio.substr(1000, 20000)},
        {60000, 70000, wavHeader(4000) + audio.substr(60000)}, // more than there is yet
        {500, 400, wavHeader(0)},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(copyWavRange(wav.get(), 44, c.from, c.to, clip));
        EXPECT_EQ(readFixture(clip), c.expected) << c.from;
        EXPECT_EQ(filePermissions(clip), 0600u);
    }
    EXPECT_EQ(readFixture(dir.file("target")), "keep");
}

} // namespace
} // namespace vak
