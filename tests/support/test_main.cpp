// Every test program runs with a private HOME and scratch folder, so no test touches the real
// ~/.dictation or /tmp files of the person running them.
#include "foundation/process_values.h"
#include "support/temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    testing::InitGoogleTest(&argc, argv);
    vak::test::TempDir home;
    const std::string scratch = home.file("scratch");
    std::filesystem::create_directories(scratch);
    setenv("HOME", home.path().c_str(), 1);
    setenv("VAK_TMPDIR", scratch.c_str(), 1);
    unsetenv("VAK_TOOL_PATH");
    // The autostart entry lives under ~/.config then, in the private HOME.
    unsetenv("XDG_CONFIG_HOME");
    // No test may reach the person's session bus, nor make libdbus start one (it forks from a
    // threaded process); tests that need a bus start their own.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    vak::initProcessValues({argc > 0 ? argv[0] : "test"});
    return RUN_ALL_TESTS();
}
