#include "foundation/scratch_files.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <set>

#include <gtest/gtest.h>
#include <utime.h>

namespace vak {
namespace {

using test::TempDir;
using test::writeFixture;

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

TEST(ScratchFiles, TheSweepRemovesWhatARecordingLeftAndOldKeptRecordingsOnly) {
    TempDir dir;
    const ScratchFiles scratch(dir.path() + "/");
    const std::string leftovers[] = {
        scratch.recording(3),           scratch.recordingTextBase(3) + ".txt",
        scratch.captionBase() + ".wav", scratch.chunkBase(2, "1") + ".wav",
        scratch.conditionedCopy(),      scratch.retryTextBase() + ".txt"};
    const std::string kept[] = {scratch.failedRecording(1), scratch.failedRecording(2),
                                scratch.lastClip(), scratch.path("other.txt"),
                                scratch.commandLineBase("clitest", true) + ".txt"};
    for (const auto& file : leftovers)
        writeFixture(file, "x");
    for (const auto& file : kept)
        writeFixture(file, "x");
    EXPECT_NE(scratch.conditionedCopy(), scratch.conditionedCopy()); // unique per call
    const std::time_t now = std::time(nullptr);
    const utimbuf old{now - 9 * 86400, now - 9 * 86400};
    ::utime(scratch.failedRecording(1).c_str(), &old);

    EXPECT_EQ(scratch.sweep(7, now), 7); // the leftovers and the week-old failed recording
    std::set<std::string> expected;
    for (const auto& file : kept)
        expected.insert(std::filesystem::path(file).filename().string());
    expected.erase("vak_failed_1.wav");
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(scratch.sweep(0, now), 1); // 0 days keeps nothing
    EXPECT_EQ(ScratchFiles(dir.file("missing")).sweep(7, now), 0);
}

} // namespace
} // namespace vak
