#include "audio/wav.h"
#include "base/files.h"
#include "session/recall.h"
#include "support/temp_dir.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

// What a killed daemon leaves: the header written at the start (sizes 0) and some samples.
std::string cutOffRecording(std::size_t sampleBytes) {
    return wavHeader(0) + std::string(sampleBytes, '\x11');
}

TEST(InterruptedRecordings, AtStartThoseWithAudioAreKeptAndTheRestSwept) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("overflow"));
    // The overflow folder's recordings are kept there: a link never crosses file systems.
    const ScratchFiles scratch(dir.path(), dir.file("overflow"));
    struct Case {
        const char* name;
        std::string bytes;
        const char* keptAs;          // nullptr: swept
        std::uint32_t keptDataBytes; // the patched size field
    };
    const std::vector<Case> cases = {
        {"vak_rec_3.wav", cutOffRecording(64000), "vak_failed_3.wav", 64000},
        // Cut through a sample; an earlier run's failed recording 4 keeps its name.
        {"vak_rec_4.wav", cutOffRecording(320001), "vak_failed_4-2.wav", 320000},
        {"vak_rec_5.wav", cutOffRecording(0), nullptr, 0},
        {"vak_rec_6.wav", "not a recording at all, just words", nullptr, 0},
        {"vak_rec_x.wav", cutOffRecording(64000), nullptr, 0},
        {"overflow/vak_rec_9.wav", cutOffRecording(32000), "overflow/vak_failed_9.wav", 32000},
    };
    writeFixture(scratch.failedRecording(4), cutOffRecording(10));
    for (const Case& c : cases)
        writeFixture(dir.file(c.name), c.bytes);
    // A link is never followed, even to a recording.
    writeFixture(dir.file("elsewhere.wav"), cutOffRecording(64000));
    std::filesystem::create_symlink(dir.file("elsewhere.wav"), scratch.path("vak_rec_7.wav"));

    EXPECT_TRUE(keepInterruptedRecordings(scratch, 0).empty()); // 0 days: nothing is kept
    const auto told = keepInterruptedRecordings(scratch, 7);
    EXPECT_EQ(told, (std::vector<std::string>{
                        "kept 1.0 s of an interrupted dictation — Retry from the menu",
                        "kept 2.0 s of an interrupted dictation — Retry from the menu",
                        "kept 10 s of an interrupted dictation — Retry from the menu"}));
    scratch.sweep(7, std::time(nullptr));

    for (const Case& c : cases) {
        EXPECT_FALSE(pathExists(dir.file(c.name))) << c.name;
        if (c.keptAs == nullptr) continue;
        EXPECT_EQ(filePermissions(dir.file(c.keptAs)), std::optional<mode_t>(0600)) << c.name;
        const std::string bytes = readFixture(dir.file(c.keptAs));
        EXPECT_EQ(bytes.substr(4, 4), le32(c.keptDataBytes + 36));
        EXPECT_EQ(bytes.substr(40, 4), le32(c.keptDataBytes));
        EXPECT_EQ(bytes.substr(44), c.bytes.substr(44)); // not a sample lost
    }
    EXPECT_EQ(readFixture(dir.file("elsewhere.wav")), cutOffRecording(64000));
    EXPECT_EQ(readFixture(scratch.failedRecording(4)), cutOffRecording(10));
    EXPECT_EQ(scratch.failedRecordings().size(), 4u); // where --retry-failed looks
}

} // namespace
} // namespace vak
