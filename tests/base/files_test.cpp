#include "base/files.h"
#include "support/temp_dir.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

class Files : public testing::Test {
  protected:
    test::TempDir dir;
};

// Privately, whatever the old file's mode, and without a leftover.
TEST_F(Files, AtomicWritesReplaceTheWholeFilePrivately) {
    const std::string path = dir.file("config");
    writeFixture(path, "old content that is longer than the new one");
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_TRUE(writeFileAtomic(path, "new", 0600));
    EXPECT_EQ(readFixture(path), "new");
    EXPECT_EQ(filePermissions(path), 0600u);
    const auto entries = std::distance(std::filesystem::directory_iterator(dir.path()), {});
    EXPECT_EQ(entries, 1);
}

// A stale file of an earlier run is replaced by an empty one.
TEST_F(Files, ScratchCreationNeverWritesThroughAPlantedLink) {
    const std::string victim = dir.file("victim");
    const std::string scratch = dir.file("vak_rec_1.wav");
    writeFixture(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), scratch.c_str()), 0);
    auto fd = createScratchFile(scratch);
    ASSERT_TRUE(fd);
    ASSERT_EQ(write(fd->get(), "RIFF", 4), 4);
    fd->reset();
    EXPECT_EQ(readFixture(victim), "precious");
    EXPECT_EQ(readFixture(scratch), "RIFF");
    EXPECT_EQ(filePermissions(scratch), 0600u);
    ASSERT_TRUE(createScratchFile(scratch));
    EXPECT_EQ(fileSize(scratch), 0);
}

// What can stand at one of the user's paths, and what replacing and reading it do there; another
// user's file is one handed to "nobody" (the tests run as root).
TEST_F(Files, UserFilesAreReplacedOnlyWhereThatIsTheUsersOwnFile) {
    const std::string own = dir.file("dotfiles/learned-words.txt");
    const std::string foreign = dir.file("foreign");
    std::filesystem::create_directory(dir.file("dotfiles"));
    std::filesystem::create_directory(dir.file("folder"));
    writeFixture(own, "mine\n");
    writeFixture(foreign, "theirs\n");
    const bool foreignOwned = ::chown(foreign.c_str(), 65534, 65534) == 0 && ::geteuid() == 0;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const auto& [link, target] : {std::pair{"to-own", own},
                                       {"to-foreign", foreign},
                                       {"to-folder", dir.file("folder")},
                                       {"dangling", dir.file("nothing")}})
        ASSERT_EQ(::symlink(target.c_str(), dir.file(link).c_str()), 0);
    const std::pair<const char*, const char*> cases[] = {
        {"to-own", ""},
        {"to-foreign", foreignOwned ? "not a file of this user's" : ""},
        {"to-folder", "not a file of this user's"},
        {"dangling", "a link to nothing that exists"},
        {"fifo", "is a FIFO, not a file"},
        {"folder", "is a folder, not a file"},
        {"new", ""},
    };
    for (const auto& [name, said] : cases) {
        std::string problem;
        EXPECT_EQ(replaceUserFile(dir.file(name), "new\n", &problem), !*said) << name;
        EXPECT_NE(problem.find(said), std::string::npos) << name << ": " << problem;
        EXPECT_EQ(!*said, problem.empty()) << name;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("to-own")));
    EXPECT_EQ(readFixture(own), "new\n");
    EXPECT_EQ(filePermissions(own), 0600u);
    EXPECT_EQ(readFixture(foreign), foreignOwned ? "theirs\n" : "new\n");
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo")));

    // Reading follows any link unless told not to, never blocks on a FIFO and says what stood
    // in the way; text is UTF-8 or nothing.
    writeFixture(dir.file("latin1"), "caf\xe9");
    EXPECT_EQ(readFileBytes(dir.file("to-foreign")), readFixture(foreign));
    EXPECT_EQ(readFileBytes(dir.file("latin1")), "caf\xe9");
    const std::tuple<std::string, Links, const char*> reads[] = {
        {"fifo", Links::follow, "is a FIFO"},   {"folder", Links::follow, "is a folder"},
        {"to-own", Links::refuse, "is a link"}, {"latin1", Links::follow, "is not UTF-8 text"},
        {"missing", Links::follow, ""},
    };
    for (const auto& [name, links, said] : reads) {
        std::string problem;
        EXPECT_FALSE(readTextFile(dir.file(name), &problem, links)) << name;
        EXPECT_EQ(problem, said);
    }
}

} // namespace
} // namespace vak
