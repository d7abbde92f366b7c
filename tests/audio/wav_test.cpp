#include "audio/wav.h"
#include "base/files.h"
#include "support/temp_dir.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

// `seconds` of samples of constant magnitude `level` (alternating sign, so RMS = level).
std::string samples(double seconds, int level) {
    std::string bytes;
    const auto count = static_cast<std::size_t>(seconds * 16000);
    for (std::size_t i = 0; i < count; ++i) {
        const auto s = static_cast<std::int16_t>(i % 2 == 0 ? level : -level);
        bytes += le16(static_cast<std::uint16_t>(s));
    }
    return bytes;
}

UniqueFd openWav(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY));
}

TEST(WavFormat, TheCanonical44ByteHeaderAndAPrivateFileThatReplacesTheOldOne) {
    EXPECT_EQ(wavHeader(32000), std::string("RIFF\x24\x7d\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0"
                                            "\x80\x3e\0\0\x00\x7d\0\0\x02\0\x10\0data\x00\x7d\0\0",
                                            44));
    EXPECT_EQ(wavHeader(0).substr(4, 4), std::string("\x24\0\0\0", 4));
    EXPECT_EQ(le16(0xBEEF), "\xEF\xBE");

    TempDir dir;
    const std::string path = dir.file("clip.wav");
    writeFixture(path, std::string(100000, 'x'));
    const std::string data = samples(0.5, 1000);
    ASSERT_TRUE(writeWav16kMono(data, path));
    EXPECT_EQ(readFixture(path), wavHeader(static_cast<std::uint32_t>(data.size())) + data);
    EXPECT_EQ(filePermissions(path), 0600u);
    EXPECT_EQ(findWavDataOffset(path), 44u);
}

TEST(WavFormat, DataOffsetWalksChunksAndRejectsForeignFiles) {
    TempDir dir;
    const std::string fmt = wavHeader(0).substr(12, 24); // "fmt " chunk
    const std::string riff = std::string("RIFF") + le32(0) + "WAVE";
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::uint64_t> offset;
    };
    const std::vector<Case> cases = {
        {"still recording (sizes 0)", wavHeader(0) + samples(0.1, 500), 44},
        {"LIST chunk before data",
         riff + fmt + "LIST" + le32(10) + std::string(10, 'i') + "data" + le32(0) + samples(0.1, 1),
         36 + 18 + 8},
        {"odd chunk skipped with its pad byte",
         riff + fmt + "junk" + le32(3) + "abc" + std::string(1, '\0') + "data" + le32(0) +
             samples(0.1, 1),
         36 + 12 + 8},
        {"43 bytes", wavHeader(0).substr(0, 43), std::nullopt},
        {"not RIFF", "RIFX" + wavHeader(0).substr(4) + samples(0.1, 1), std::nullopt},
        {"WAVE missing", "RIFF" + le32(0) + "AVI " + wavHeader(0).substr(12), std::nullopt},
        {"chunk size beyond what was read",
         riff + fmt + "LIST" + le32(100000) + std::string(9000, 'x'), std::nullopt},
        {"data header beyond 8192 bytes",
         riff + fmt + "pad " + le32(8144) + std::string(8144, 'p') + "data" + le32(0),
         std::nullopt},
        {"truncated in the chunk walk", riff + fmt + "LIST" + le32(2) + "ab", std::nullopt},
        {"no fmt chunk", riff + "data" + le32(0) + samples(0.1, 1), std::nullopt},
        {"fmt after the data", riff + "data" + le32(0) + fmt, std::nullopt},
        {"fmt too short", riff + "fmt " + le32(8) + fmt.substr(8, 8) + "data" + le32(0),
         std::nullopt},
        {"fmt sizes disagree (block align of stereo)",
         riff + fmt.substr(0, 20) + le16(4) + fmt.substr(22) + "data" + le32(0), std::nullopt},
        {"fmt of an unknown coding",
         riff + fmt.substr(0, 8) + le16(0x55) + fmt.substr(10) + "data" + le32(0), std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("case.wav");
        writeFixture(path, c.bytes);
        EXPECT_EQ(findWavDataOffset(path), c.offset) << c.name;
    }
    EXPECT_EQ(findWavDataOffset(dir.file("missing.wav")), std::nullopt);

    // What is refused says why, and a FIFO never blocks the reader.
    std::string problem;
    ASSERT_EQ(::mkfifo(dir.file("fifo.wav").c_str(), 0600), 0);
    EXPECT_FALSE(readWavLayout(dir.file("fifo.wav"), &problem));
    EXPECT_EQ(problem, "is a FIFO");
    writeFixture(dir.file("notes.wav"), "these are notes, not audio, and long enough to walk");
    EXPECT_FALSE(readWavLayout(dir.file("notes.wav"), &problem));
    EXPECT_EQ(problem, "is not a WAV file");
    writeWav16kMono(samples(0.1, 1), dir.file("rec.wav"));
    const auto layout = readWavLayout(dir.file("rec.wav"));
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->isRecordingFormat());
}

TEST(WavLevels, RmsMeasuresTheRangeAndOnlyItsFirstTenSeconds) {
    TempDir dir;
    const std::string path = dir.file("levels.wav");
    // 10 s at 1000, then 10 s at 4000.
    writeWav16kMono(samples(10, 1000) + samples(10, 4000), path);
    const auto wav = openWav(path);
    const auto s = [](double seconds) { return static_cast<std::uint64_t>(seconds * 32000); };
    EXPECT_NEAR(rangeRMS(wav.get(), 44, 0, s(20)), 1000, 1e-9); // only the first 10 s count
    EXPECT_NEAR(rangeRMS(wav.get(), 44, s(10), s(20)), 4000, 1e-9);
    EXPECT_NEAR(rangeRMS(wav.get(), 44, s(5), s(15)),
                std::sqrt((1000.0 * 1000 + 4000.0 * 4000) / 2), 1e-6);
    EXPECT_EQ(rangeRMS(wav.get(), 44, s(3), s(3)), 0);
    EXPECT_EQ(rangeRMS(wav.get(), 44, s(4), s(3)), 0);
    EXPECT_EQ(rangeRMS(wav.get(), 44, s(30), s(31)), 0); // beyond the end: nothing read
    // Full-scale negative samples square without overflow.
    writeWav16kMono(std::string(2, '\0') + le16(0x8000), path);
    const auto extreme = openWav(path);
    EXPECT_NEAR(rangeRMS(extreme.get(), 44, 0, 4), std::sqrt(32768.0 * 32768 / 2), 1e-6);
}

struct CutCase {
    const char* name;
    std::string audio;
    std::uint64_t from;
    std::uint64_t lookback;
    std::optional<std::uint64_t> cut;
};

TEST(WavLevels, QuietCutPointFindsTheMiddleOfAClearPauseOnly) {
    TempDir dir;
    // 2.4 s speech, 0.48 s silence, 1 s speech: the quietest run starts in the pause; the cut is
    // two 80 ms windows into it.
    const std::string pause = samples(2.4, 3000) + samples(0.48, 0) + samples(1, 3000);
    const std::uint64_t pauseStart = 76800;
    // Quiet recording: "speech" at 300 with a pause at 100. A quarter of the mean is below 100,
    // but the 120 floor still makes the pause count as quiet.
    const std::string faint = samples(2.4, 300) + samples(0.48, 100) + samples(1, 300);
    const std::vector<CutCase> cases = {
        {"clear pause", pause, 0, 1000000, pauseStart + 2 * 2560},
        {"windows counted from the start of the lookback", pause, 0, 1280 + 25 * 2560,
         pauseStart + 2 * 2560},
        {"steady speech", samples(5, 3000), 0, 1000000, std::nullopt},
        {"under 0.64 s looked at", pause, 0, 20478, std::nullopt},
        {"120 floor in a faint recording", faint, 0, 1000000, pauseStart + 2 * 2560},
        {"pause within the first second after from", pause, pauseStart - 20000, 1000000,
         std::nullopt},
        {"pause right at the end", samples(2, 3000) + samples(0.32, 0), 0, 1000000,
         64000 + 2 * 2560},
        {"earliest of equal pauses",
         samples(2, 3000) + samples(0.4, 0) + samples(1, 3000) + samples(0.4, 0) + samples(1, 3000),
         0, 1000000, 2 * 32000 + 2 * 2560},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("cut.wav");
        writeWav16kMono(c.audio, path);
        const auto wav = openWav(path);
        const std::uint64_t to = c.audio.size();
        const auto cut = quietCutPoint(wav.get(), 44, c.from, to, c.lookback);
        EXPECT_EQ(cut, c.cut) << c.name;
        if (cut) {
            EXPECT_EQ(*cut % 2, 0u) << c.name;
            EXPECT_GT(*cut, c.from + 32000) << c.name;
            EXPECT_LT(*cut, to) << c.name;
        }
    }
    // A caller that believes more audio exists than was written yet: the short read is measured,
    // and an empty read gives nothing.
    const auto wav = openWav(dir.file("cut.wav"));
    const std::uint64_t written = fileSize(dir.file("cut.wav")).value_or(0) - 44;
    EXPECT_EQ(quietCutPoint(wav.get(), 44, written, written + 64000, 64000), std::nullopt);
    EXPECT_EQ(quietCutPoint(wav.get(), 44, 5000, 5000, 64000), std::nullopt);
}

TEST(WavLevels, QuietestPointSplitsSpeechThatNeverPausesBetweenTwoWords) {
    TempDir dir;
    const std::string path = dir.file("speech.wav");
    // Words of 240 ms with 120 ms gaps at a low noise level; the gap after the 5th word is a
    // little quieter than the others.
    std::string audio;
    for (int word = 0; word < 8; ++word)
        audio += samples(0.24, 6000) + samples(0.12, word == 4 ? 20 : 40);
    writeWav16kMono(audio, path);
    const auto wav = openWav(path);
    const std::uint64_t to = audio.size();
    const std::uint64_t quietGap = 4 * (7680 + 3840) + 7680; // where the 5th word's gap starts
    const auto point = quietestPoint(wav.get(), 44, 0, to, to);
    ASSERT_TRUE(point);
    EXPECT_EQ(*point % 2, 0u);
    // Its 60 ms lie wholly inside that gap.
    EXPECT_GE(*point, quietGap + 960);
    EXPECT_LE(*point, quietGap + 3840 - 960);

    // Equal pauses: the latest wins. Bounds: strictly inside (from, to); nothing when under
    // 60 ms can be read.
    const std::string even = samples(1, 3000) + samples(0.2, 0) + samples(1, 3000) +
                             samples(0.2, 0) + samples(0.5, 3000);
    writeWav16kMono(even, path);
    const auto evenWav = openWav(path);
    const auto latest = quietestPoint(evenWav.get(), 44, 0, even.size(), even.size());
    ASSERT_TRUE(latest);
    EXPECT_GT(*latest, 2.2 * 32000);
    EXPECT_LT(*latest, 2.4 * 32000);
    EXPECT_LT(*quietestPoint(evenWav.get(), 44, 0, even.size(), 0.9 * 32000), even.size());
    EXPECT_EQ(quietestPoint(evenWav.get(), 44, 0, 1900, 1900), std::nullopt);
    EXPECT_EQ(quietestPoint(evenWav.get(), 44, even.size() - 100, even.size(), 64000),
              std::nullopt);
    EXPECT_EQ(quietestPoint(evenWav.get(), 44, 10, 10, 64000), std::nullopt);
}

TEST(WavLevels, LongestPauseIsTheLongestQuietRunNotTheQuietest) {
    TempDir dir;
    // A comma's 0.2 s of digital silence, a sentence's 0.6 s of room noise, a 0.1 s dip; then
    // two equal pauses.
    const std::string audio = samples(1, 3000) + samples(0.2, 0) + samples(1, 3000) +
                              samples(0.6, 150) + samples(1, 3000) + samples(0.1, 0) +
                              samples(1, 3000);
    const std::string twins =
        samples(1, 3000) + samples(0.3, 0) + samples(1, 3000) + samples(0.3, 0) + samples(1, 3000);
    const std::uint64_t sentence = 70400; // 2.2 s: where the 0.6 s pause starts
    struct Case {
        const char* name;
        const std::string& audio;
        std::uint64_t from;
        std::uint64_t lookback; // before the end
        std::optional<std::uint64_t> point;
    };
    const Case cases[] = {
        {"the sentence's middle", audio, 0, audio.size(), sentence + 9600},
        {"from near its end: too little of it is left, the comma is before", audio, 88000,
         audio.size(), std::nullopt},
        {"only the dip looked at", audio, 0, 67200, std::nullopt},
        {"the latest of equal ones", twins, 0, twins.size(), 73600 + 4800},
        {"nothing to read", audio, audio.size(), audio.size(), std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("pauses.wav");
        writeWav16kMono(c.audio, path);
        const auto wav = openWav(path);
        EXPECT_EQ(longestPause(wav.get(), 44, c.from, c.audio.size(), c.lookback), c.point)
            << c.name;
    }
}

TEST(WavFormat, ARangeCopiedOutIsAWavOfItsOwnCutToWhatIsThere) {
    TempDir dir;
    std::string audio;
    for (int i = 0; i < 32000; ++i)
        audio += le16(static_cast<std::uint16_t>(i));
    const std::string source = dir.file("source.wav");
    writeWav16kMono(audio, source);
    const auto wav = openWav(source);
    const std::string clip = dir.file("clip.wav");
    writeFixture(clip, "old contents");

    ASSERT_TRUE(copyWavRange(wav.get(), 44, 1000, 21000, clip));
    EXPECT_EQ(readFixture(clip), wavHeader(20000) + audio.substr(1000, 20000));
    EXPECT_EQ(filePermissions(clip), 0600u);
    // More than the recording holds yet: what is there, and a header that says so.
    ASSERT_TRUE(copyWavRange(wav.get(), 44, 60000, 70000, clip));
    EXPECT_EQ(readFixture(clip), wavHeader(4000) + audio.substr(60000));
    ASSERT_TRUE(copyWavRange(wav.get(), 44, 500, 400, clip));
    EXPECT_EQ(readFixture(clip), wavHeader(0));
    // A link planted at the clip's name is replaced, not written through.
    const std::string target = dir.file("target");
    writeFixture(target, "keep");
    std::filesystem::remove(clip);
    std::filesystem::create_symlink(target, clip);
    ASSERT_TRUE(copyWavRange(wav.get(), 44, 0, 100, clip));
    EXPECT_EQ(readFixture(target), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(clip));
}

} // namespace
} // namespace vak
