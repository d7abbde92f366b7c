// The Linux desktop adapters that need no display: the service control and the file opener.
#include "base/files.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "platform/linux/systemd_service_control.h"
#include "platform/linux/xdg_file_opener.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;

TEST(ServiceControl, CgroupTellsWhetherSystemdStartedUs) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0::/user.slice/user@1000.service/app.slice/vak-dictate.service\n", true},
        {"12:pids:/x\n1:name=systemd:/user.slice/vak-dictate.service\n", true},
        {"0::/user.slice/user@1000.service/app.slice/vte-spawn-1234.scope\n", false},
        {"0::/user.slice/other-vak-dictate.service\n", false},
        {"", false},
    };
    for (const auto& [cgroup, inUnit] : cases)
        EXPECT_EQ(cgroupInUnit(cgroup, SERVICE_UNIT), inUnit) << cgroup;
}

// A stand-in for a system tool that records its arguments and exits with `status`.
std::string recordingTool(const TempDir& dir, const std::string& name, int status) {
    const std::string path = dir.file(name);
    test::writeFixture(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + dir.file(name + ".args") +
                                 "'\nexit " + std::to_string(status) + "\n");
    ::chmod(path.c_str(), 0700);
    return path;
}

TEST(ServiceControl, UnderSystemdStopAndRestartGoThroughSystemctl) {
    TempDir dir;
    const std::string inUnit = "0::/user.slice/user@1000.service/app.slice/vak-dictate.service\n";
    SystemdServiceControl control({"/nonexistent/vak-dictate"}, inUnit,
                                  recordingTool(dir, "systemctl", 0));
    ASSERT_TRUE(control.underSystemd());
    EXPECT_TRUE(control.stopService());
    EXPECT_TRUE(control.restartService());
    EXPECT_EQ(readFixture(dir.file("systemctl.args")),
              "--user\n--no-block\nstop\nvak-dictate.service\n"
              "--user\n--no-block\nrestart\nvak-dictate.service\n");

    test::LogCapture logs;
    SystemdServiceControl failing({"x"}, inUnit, recordingTool(dir, "refusing", 1));
    EXPECT_FALSE(failing.restartService());
    SystemdServiceControl missing({"x"}, inUnit, dir.file("no-such-systemctl"));
    EXPECT_FALSE(missing.stopService());
    EXPECT_EQ(logs.messages().size(), 2u);
}

TEST(ServiceControl, OutsideSystemdARestartReexecutesTheProgramCleanly) {
    // The helper leaves SIGUSR1 blocked and pending, a descriptor open and a child running,
    // then restarts.
    const auto result = runProcess({VAK_TEST_REEXEC, "FIRST"}, RunOptions{});
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->status.success());
    EXPECT_EQ(result->output, "restarted fd=closed usr1=unblocked child=gone\n");
    // Not a service: stopping has nothing to do and is no failure.
    SystemdServiceControl control({"x"}, std::string("0::/user.slice/session-2.scope\n"));
    EXPECT_FALSE(control.underSystemd());
    EXPECT_TRUE(control.stopService());
}

// xdg-open gets the path as one argument (never one it would take for an option), runs in the
// background, is stopped when it hangs, and only a failure is logged: the stopped one may well
// have opened the file.
TEST(FileOpener, RunsXdgOpenWithThePathAsOneArgumentAndNeverWaitsForIt) {
    TempDir dir;
    const std::string hung = dir.file("hung-open");
    test::writeFixture(hung, "#!/bin/sh\nexec sleep 30\n");
    ::chmod(hung.c_str(), 0700);
    test::LogCapture logs;
    const auto start = SteadyClock::now();
    XdgFileOpener opener(recordingTool(dir, "xdg-open", 0));
    EXPECT_TRUE(opener.open("/home/u/.dictation/config file; rm -rf ~"));
    EXPECT_TRUE(XdgFileOpener(hung, 0.3).open("/tmp/x"));
    EXPECT_TRUE(XdgFileOpener(recordingTool(dir, "failing-open", 4)).open("/tmp/y"));
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_TRUE(opener.open("-n"));
    test::waitUntil([&] { return readFixture(dir.file("xdg-open.args")).size() >= 45; });
    // The two openers run side by side, so their lines may come in either order.
    std::string args = readFixture(dir.file("xdg-open.args"));
    if (args.rfind("./-n\n", 0) == 0) args = args.substr(5) + "./-n\n";
    EXPECT_EQ(args, "/home/u/.dictation/config file; rm -rf ~\n./-n\n");
    test::waitUntil([&] { return !logs.messages().empty(); });
    test::settle(0.5);
    EXPECT_EQ(logs.messages(),
              std::vector<std::string>{"⚠️ xdg-open could not open /tmp/y (status 4)"});
    EXPECT_FALSE(XdgFileOpener(dir.file("no-such-xdg-open")).open("/tmp/x"));
}

} // namespace
} // namespace vak
