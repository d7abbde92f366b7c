#include "base/files.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

TEST(Files, TextReadsRefuseInvalidUtf8AppendsAndFoldersAreCreated) {
    TempDir dir;
    writeFixture(dir.file("good"), "caf\xc3\xa9 \xf0\x9f\x91\x8d");
    writeFixture(dir.file("latin1"), "caf\xe9");
    writeFixture(dir.file("truncated"), "ok \xf0\x9f\x91");
    EXPECT_EQ(readTextFile(dir.file("good")), "caf\xc3\xa9 \xf0\x9f\x91\x8d");
    EXPECT_FALSE(readTextFile(dir.file("latin1")));
    EXPECT_FALSE(readTextFile(dir.file("truncated")));
    EXPECT_EQ(readFileBytes(dir.file("latin1")), "caf\xe9");
    EXPECT_FALSE(readFileBytes(dir.file("missing")));
    EXPECT_FALSE(readFileBytes(dir.path())); // a folder is not a file

    // Appending creates a private file and keeps what was there.
    EXPECT_TRUE(appendToFile(dir.file("log"), "one\n"));
    EXPECT_TRUE(appendToFile(dir.file("log"), "two\n"));
    EXPECT_EQ(readFixture(dir.file("log")), "one\ntwo\n");
    EXPECT_EQ(filePermissions(dir.file("log")), 0600u);

    EXPECT_TRUE(makeDirectories(dir.file("a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("a/b/c")));
    EXPECT_TRUE(makeDirectories(dir.file("a/b/c"))); // already there is fine
    EXPECT_FALSE(makeDirectories(dir.file("good/sub")));
}

TEST(Files, AtomicWritesReplaceTheWholeFilePrivatelyAndNeverMix) {
    TempDir dir;
    const std::string path = dir.file("config");
    writeFixture(path, "old content that is longer than the new one");
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    const mode_t oldMask = umask(0077);
    EXPECT_TRUE(writeFileAtomic(path, "new", 0600));
    umask(oldMask);
    EXPECT_EQ(readFixture(path), "new");
    EXPECT_EQ(filePermissions(path), 0600u);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1);

    EXPECT_FALSE(writeFileAtomic(dir.file("no/such/folder/file"), "x"));

    // Writers racing never leave a mixed file.
    const std::string a(100000, 'a');
    const std::string b(100000, 'b');
    std::thread writerA([&] {
        for (int i = 0; i < 30; ++i)
            writeFileAtomic(path, a);
    });
    std::thread writerB([&] {
        for (int i = 0; i < 30; ++i)
            writeFileAtomic(path, b);
    });
    for (int i = 0; i < 60; ++i) {
        const auto seen = readFileBytes(path);
        EXPECT_TRUE(seen == "new" || seen == a || seen == b);
    }
    writerA.join();
    writerB.join();
}

TEST(Files, ScratchCreationNeverWritesThroughAPlantedLink) {
    TempDir dir;
    const std::string victim = dir.file("victim");
    const std::string scratch = dir.file("vak_rec_1.wav");
    writeFixture(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), scratch.c_str()), 0);

    auto fd = createScratchFile(scratch);
    ASSERT_TRUE(fd);
    ASSERT_EQ(write(fd->get(), "RIFF", 4), 4);
    fd->reset();

    EXPECT_EQ(readFixture(victim), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(scratch));
    EXPECT_EQ(readFixture(scratch), "RIFF");
    EXPECT_EQ(filePermissions(scratch), 0600u);

    // A stale file of an earlier run is replaced by an empty one.
    auto again = createScratchFile(scratch);
    ASSERT_TRUE(again);
    EXPECT_EQ(fileSize(scratch), 0);
    // An entry that cannot be removed (a folder) is no scratch file.
    std::filesystem::create_directory(dir.file("vak_chunk_1"));
    EXPECT_FALSE(createScratchFile(dir.file("vak_chunk_1")));
}

// What can stand at one of the user's paths, and what reading and replacing it do there.
TEST(Files, UserFilesAreReplacedOnlyWhereThatIsTheUsersOwnFile) {
    TempDir dir;
    const std::string own = dir.file("dotfiles/learned-words.txt");
    const std::string foreign = dir.file("foreign");
    std::filesystem::create_directory(dir.file("dotfiles"));
    std::filesystem::create_directory(dir.file("folder"));
    writeFixture(own, "mine\n");
    writeFixture(foreign, "theirs\n");
    // Run as root here; another user's file is one handed to "nobody".
    const bool foreignOwned = ::chown(foreign.c_str(), 65534, 65534) == 0 && ::geteuid() == 0;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const auto& [link, target] : {std::pair{"to-own", own},
                                       {"to-foreign", foreign},
                                       {"to-folder", dir.file("folder")},
                                       {"dangling", dir.file("nothing")}})
        ASSERT_EQ(::symlink(target.c_str(), dir.file(link).c_str()), 0);

    struct Case {
        const char* name;
        bool replaced;
        const char* problem; // part of what replaceUserFile says
    };
    const Case cases[] = {
        {"to-own", true, ""},
        {"to-foreign", !foreignOwned, foreignOwned ? "not a file of this user's" : ""},
        {"to-folder", false, "not a file of this user's"},
        {"dangling", false, "a link to nothing that exists"},
        {"fifo", false, "is a FIFO, not a file"},
        {"folder", false, "is a folder, not a file"},
        {"new", true, ""},
    };
    for (const Case& c : cases) {
        std::string problem;
        EXPECT_EQ(replaceUserFile(dir.file(c.name), "new\n", &problem), c.replaced) << c.name;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
        EXPECT_EQ(c.replaced, problem.empty()) << c.name;
    }
    // The dotfile manager's link is still a link, and its target has the change, privately.
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("to-own")));
    EXPECT_EQ(readFixture(own), "new\n");
    EXPECT_EQ(filePermissions(own), 0600u);
    EXPECT_EQ(readFixture(dir.file("new")), "new\n");
    if (foreignOwned) {
        EXPECT_EQ(readFixture(foreign), "theirs\n");
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo")));

    // Reading follows any link, never blocks on a FIFO and says what stood in the way.
    std::string problem;
    EXPECT_EQ(readFileBytes(dir.file("to-foreign")), readFixture(foreign));
    EXPECT_FALSE(readFileBytes(dir.file("fifo"), &problem));
    EXPECT_EQ(problem, "is a FIFO");
    EXPECT_FALSE(readTextFile(dir.file("folder"), &problem));
    EXPECT_EQ(problem, "is a folder");
    EXPECT_FALSE(readFileBytes(dir.file("to-own"), &problem, Links::refuse));
    EXPECT_EQ(problem, "is a link");
    EXPECT_FALSE(readFileBytes(dir.file("missing"), &problem));
    EXPECT_EQ(problem, "");
}

} // namespace
} // namespace vak
