// Re-executes itself once through reexecSelf, for the tests:
//   vak-test-reexec FIRST   blocks SIGUSR1, leaves one pending, opens a descriptor without
//                           close-on-exec, starts a child that sleeps and restarts itself as
//                           "vak-test-reexec SECOND FD PID"
//   vak-test-reexec SECOND FD PID
//                           prints "restarted", whether FD is still open, whether SIGUSR1 is
//                           blocked and whether the child PID still runs, then exits 0
#include "base/subprocess.h"
#include "platform/linux/systemd_service_control.h"

#include <csignal>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const std::string self = argv[0];
    if (argc == 4 && std::string(argv[1]) == "SECOND") {
        const int fd = std::stoi(argv[2]);
        sigset_t mask;
        sigemptyset(&mask);
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        // Still ours after the exec: 0 while it runs, its id once it has ended unreaped.
        const bool running = waitpid(std::stoi(argv[3]), nullptr, WNOHANG) == 0;
        std::printf("restarted fd=%s usr1=%s child=%s\n",
                    fcntl(fd, F_GETFD) == -1 ? "closed" : "open",
                    sigismember(&mask, SIGUSR1) == 1 ? "blocked" : "unblocked",
                    running ? "running" : "gone");
        return 0;
    }
    if (argc != 2 || std::string(argv[1]) != "FIRST") return 2;
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    raise(SIGUSR1); // pending: it would end the new program the moment it is unblocked
    const int fd = open("/dev/null", O_RDONLY);
    vak::SpawnOptions sleeper;
    sleeper.argv = {"/bin/sleep", "30"};
    const auto child = vak::Subprocess::spawn(sleeper);
    if (!child) return 3;
    vak::reexecSelf({self, "SECOND", std::to_string(fd), std::to_string(child->pid())});
    std::puts("reexec failed");
    return 1;
}
