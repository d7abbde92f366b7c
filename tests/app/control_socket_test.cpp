// The daemon's control socket: the command-line end (the built program's --toggle and the
// others) against the daemon's end, a dead daemon's socket, a live one's, and another user.
#include "app/control_socket.h"
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
    // The built program, pointed at this socket.
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

TEST_F(Control, EachFlagReachesTheRunningDaemonAsItsCommand) {
    const auto socket = listen();
    ASSERT_TRUE(socket);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    for (const char* flag : {"--toggle", "--cancel", "--settings", "--quit"}) {
        const auto result = run(flag);
        EXPECT_EQ(result.exitCode, 0) << flag << ": " << result.err;
    }
    loop.runFor(0.2);
    EXPECT_EQ(received,
              (std::vector<ControlCommand>{ControlCommand::Toggle, ControlCommand::Cancel,
                                           ControlCommand::Settings, ControlCommand::Quit}));
}

TEST_F(Control, WithoutADaemonTheCommandFailsAndSaysWhere) {
    const auto result = run("--toggle");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no running daemon answers at " + path), std::string::npos)
        << result.err;
}

TEST_F(Control, ADeadDaemonsSocketIsReplacedAndALiveOneIsLeftAlone) {
    // What a daemon that crashed leaves behind: a socket file nobody listens on.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    auto first = listen();
    ASSERT_TRUE(first);
    std::string error;
    EXPECT_FALSE(listen(&error));
    EXPECT_NE(error.find("another vak-dictate already answers"), std::string::npos) << error;
    // The one that lost does not take the winner's socket away with it.
    std::ostringstream err;
    EXPECT_EQ(sendControlCommand(path, ControlCommand::Toggle, err), 0) << err.str();
    first.reset();
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
        // nobody
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        std::ostringstream err;
        ::_exit(sendControlCommand(path, ControlCommand::Quit, err) == 1 &&
                        err.str().find("refused") != std::string::npos
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    loop.runFor(0.1);
    EXPECT_TRUE(received.empty());
}

} // namespace
} // namespace vak
