// The daemon's control socket against the built program's --toggle and the others.
#include "app/control_socket.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vak {
namespace {

struct Control : ::testing::Test {
    std::unique_ptr<ControlSocket> listen(std::string* error = nullptr) {
        return ControlSocket::listen(
            path, loop, [this](ControlCommand command) { received.push_back(command); }, error);
    }
    test::BinaryRun run(const std::string& flag) {
        test::BinaryOptions options;
        options.env["HOME"] = dir.path();
        options.env["XDG_RUNTIME_DIR"] = dir.path();
        return test::runVak({flag}, options);
    }

    test::TempDir dir;
    std::string path = dir.file("vak-dictate.sock");
    RunLoopMainQueue loop;
    std::vector<ControlCommand> received;
};

// Without a daemon a flag fails and says where it looked; a dead daemon's socket is replaced and
// a live one's left alone; each flag reaches the daemon as its command; the socket goes with it.
TEST_F(Control, EachFlagReachesTheDaemonThroughItsOwnSocket) {
    const auto alone = run("--toggle");
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_NE(alone.err.find("no running daemon answers at " + path), std::string::npos);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0); // bound, and nobody listens
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    auto socket = listen();
    ASSERT_TRUE(socket);
    std::string error;
    EXPECT_FALSE(listen(&error));
    EXPECT_NE(error.find("another vak-dictate already answers"), std::string::npos) << error;
    EXPECT_EQ(filePermissions(path), 0600u);
    for (const char* flag : {"--toggle", "--cancel", "--settings", "--quit"})
        EXPECT_EQ(run(flag).exitCode, 0) << flag;
    loop.runFor(0.2);
    EXPECT_EQ(received,
              (std::vector<ControlCommand>{ControlCommand::Toggle, ControlCommand::Cancel,
                                           ControlCommand::Settings, ControlCommand::Quit}));
    socket.reset();
    EXPECT_EQ(::access(path.c_str(), F_OK), -1);
}

TEST_F(Control, AnotherUserIsRefusedEvenWhereTheSocketLetsThemIn) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
    const auto socket = listen();
    ASSERT_TRUE(socket);
    ::chmod(path.c_str(), 0666);
    ::chmod(dir.path().c_str(), 0755);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3); // nobody
        std::ostringstream err;
        const bool refused = sendControlCommand(path, ControlCommand::Quit, err) == 1 &&
                             err.str().find("refused") != std::string::npos;
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    loop.runFor(0.1);
    EXPECT_TRUE(received.empty());
}

} // namespace
} // namespace vak
