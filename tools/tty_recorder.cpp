// A terminal program for the Wayland desktop tests: run inside a terminal emulator, it records
// every byte the terminal hands it, as typed or pasted.
//
//   vak-tty-recorder RECORD READY
//       Puts the terminal in raw mode with bracketed paste on (a paste then arrives between
//       ESC [200~ and ESC [201~), writes "ready" to READY, and appends every byte it reads to
//       RECORD until the terminal goes away.
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vak-tty-recorder RECORD READY\n");
        return 2;
    }
    const int record = ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (record < 0) return 1;
    termios mode{};
    if (::tcgetattr(STDIN_FILENO, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &mode);
    }
    constexpr char kBracketedPaste[] = "\x1b[?2004h";
    writeAll(STDOUT_FILENO, kBracketedPaste, std::strlen(kBracketedPaste));
    const int ready = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (ready < 0 || !writeAll(ready, "ready", 5)) return 1;
    ::close(ready);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) break;
        if (!writeAll(record, buffer, static_cast<std::size_t>(n))) return 1;
    }
    return 0;
}
