// Runs a program that must not outlive the process that started it: the private D-Bus session
// and keyring of the key-store tests. Usage: vak-test-tethered PROGRAM [ARGUMENT...]
// The program receives SIGKILL as soon as its starter ends, even when the starter crashed.
#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vak-test-tethered PROGRAM [ARGUMENT...]\n", stderr);
        return 64;
    }
    const pid_t starter = getppid();
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return 70;
    // The starter may have ended before the tether was tied.
    if (getppid() != starter) return 70;
    execv(argv[1], argv + 1);
    std::perror("vak-test-tethered: execv");
    return 127;
}
