#include "audio/wav.h"
#include "base/files.h"
#include "session/recall.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

// What a killed daemon leaves: the header written at the start (sizes 0) and what the writer
// got out before the end.
std::string cutOffRecording(std::size_t sampleBytes) {
    return wavHeader(0) + std::string(sampleBytes, '\x11');
}

// Every file under `dir`, by its path there.
std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (!entry.is_directory())
            names.insert(std::filesystem::relative(entry.path(), dir).string());
    }
    return names;
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
        {"overflow/vak_rec_10.wav", cutOffRecording(0), nullptr, 0},
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

    std::set<std::string> left = {"vak_failed_4.wav", "elsewhere.wav"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.keptAs == nullptr) continue;
        left.insert(c.keptAs);
        const std::string kept = dir.file(c.keptAs);
        EXPECT_EQ(filePermissions(kept), std::optional<mode_t>(0600));
        const std::string bytes = readFixture(kept);
        EXPECT_EQ(bytes.substr(4, 4), le32(c.keptDataBytes + 36));
        EXPECT_EQ(bytes.substr(40, 4), le32(c.keptDataBytes));
        EXPECT_EQ(bytes.substr(44), c.bytes.substr(44)); // not a sample lost
    }
    EXPECT_EQ(namesIn(dir.path()), left);
    // Listed where Failed recordings and --retry-failed look.
    EXPECT_EQ(scratch.failedRecordings().size(), 4u);
}

} // namespace
} // namespace vak
