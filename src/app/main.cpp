#include "app/command_line.h"
#include "app/daemon.h"
#include "foundation/process_values.h"
#include "platform/platform.h"

#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A descriptor the process was started without must not be handed out again by open() as if it
// were standard input, output or error.
void ensureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened > 2) close(opened);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    ensureStandardDescriptors();
    // Everything this program and its tools create can hold the user's words (recordings,
    // decoder transcripts in the scratch folder): private to the user, whoever creates it.
    ::umask(077);
    // Writes to a child that has gone must fail with EPIPE instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> args(argv, argv + argc);
    vak::initProcessValues(args);
    vak::installPlatformBackends();
    vak::setDaemonRunner(vak::runDaemon);
    return vak::runCommandLine(vak::parseCommandLine(args));
}
