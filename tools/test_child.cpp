// A child process whose behaviour the subprocess tests choose by argument:
//   exit N            exit with status N
//   echo              copy standard input to standard output
//   print TEXT        write TEXT to standard output
//   sleep SECONDS     sleep, then exit 0
//   stubborn SECONDS  ignore SIGTERM and sleep
//   raise SIGNAL      end by the given signal number
//   fds               print the open descriptors above 2, then exit
//   sigpipe           report whether SIGPIPE is ignored ("ignored" / "default")
//   env               print the environment, one entry a line
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

extern char** environ;

namespace {

void sleepSeconds(double seconds) {
    const auto micros = static_cast<useconds_t>(seconds * 1e6);
    for (useconds_t slept = 0; slept < micros; slept += 10000)
        usleep(10000);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 64;
    const std::string what = argv[1];
    const char* arg = argc > 2 ? argv[2] : "0";
    if (what == "exit") return std::atoi(arg);
    if (what == "echo") {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = read(0, buffer, sizeof buffer)) > 0) {
            if (write(1, buffer, static_cast<size_t>(n)) != n) return 1;
        }
        return 0;
    }
    if (what == "print") {
        std::fputs(arg, stdout);
        return 0;
    }
    if (what == "sleep") {
        sleepSeconds(std::atof(arg));
        return 0;
    }
    if (what == "stubborn") {
        std::signal(SIGTERM, SIG_IGN);
        sleepSeconds(std::atof(arg));
        return 0;
    }
    if (what == "raise") {
        std::raise(std::atoi(arg));
        return 99;
    }
    if (what == "fds") {
        for (int fd = 3; fd < 1024; ++fd) {
            if (fcntl(fd, F_GETFD) != -1) std::printf("%d\n", fd);
        }
        return 0;
    }
    if (what == "env") {
        for (char** entry = environ; *entry != nullptr; ++entry)
            std::printf("%s\n", *entry);
        return 0;
    }
    if (what == "sigpipe") {
        struct sigaction current {};
        sigaction(SIGPIPE, nullptr, &current);
        std::fputs(current.sa_handler == SIG_IGN ? "ignored" : "default", stdout);
        return 0;
    }
    return 64;
}
