// Re-executes itself once through reexecSelf, for the tests:
//   vak-test-reexec FIRST   blocks SIGUSR1, leaves one pending, opens a descriptor without
//                           close-on-exec and restarts itself as "vak-test-reexec SECOND FD"
//   vak-test-reexec SECOND FD
//                           prints "restarted", whether FD is still open, and whether SIGUSR1
//                           is blocked, then exits 0
#include "platform/linux/systemd_service_control.h"

#include <csignal>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const std::string self = argv[0];
    if (argc == 3 && std::string(argv[1]) == "SECOND") {
        const int fd = std::stoi(argv[2]);
        sigset_t mask;
        sigemptyset(&mask);
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        std::printf("restarted fd=%s usr1=%s\n", fcntl(fd, F_GETFD) == -1 ? "closed" : "open",
                    sigismember(&mask, SIGUSR1) == 1 ? "blocked" : "unblocked");
        return 0;
    }
    if (argc != 2 || std::string(argv[1]) != "FIRST") return 2;
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    raise(SIGUSR1); // pending: it would end the new program the moment it is unblocked
    const int fd = open("/dev/null", O_RDONLY);
    vak::reexecSelf({self, "SECOND", std::to_string(fd)});
    std::puts("reexec failed");
    return 1;
}
