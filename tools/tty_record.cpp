// What a program in a terminal receives, byte for byte, for the end-to-end tests.
//
//   vak-tty-record FILE
//       Puts its terminal in raw mode, turns bracketed paste on (as shells do), and appends
//       every byte it reads to FILE. FILE is created empty, so that its existence says "ready",
//       once the terminal has answered a cursor position query sent after the mode: it handles
//       its input in order, so by then bracketed paste is on. Ends when the terminal goes away
//       or on SIGTERM, putting the terminal back.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopping = 0;

void stop(int) {
    stopping = 1;
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Reads the answer to a cursor position query ("ESC [ row ; col R"), for ten seconds at most.
bool awaitCursorReport() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (stopping == 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1) return false;
        if (c == 'R') return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vak-tty-record FILE\n", stderr);
        return 2;
    }
    std::signal(SIGTERM, stop);
    std::signal(SIGHUP, stop);
    termios before{};
    if (::tcgetattr(STDIN_FILENO, &before) != 0) return 1;
    termios raw = before;
    ::cfmakeraw(&raw);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    constexpr char kBracketedOnThenWhereAmI[] = "\x1b[?2004h\x1b[6n";
    writeAll(STDOUT_FILENO, kBracketedOnThenWhereAmI, std::strlen(kBracketedOnThenWhereAmI));
    if (!awaitCursorReport()) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &before);
        std::fputs("vak-tty-record: the terminal did not answer\n", stderr);
        return 1;
    }
    const int record = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (record < 0) return 1;
    while (stopping == 0) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&p, 1, 200);
        if (ready <= 0) continue;
        if ((p.revents & (POLLHUP | POLLERR)) != 0) break;
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) break;
        writeAll(record, buffer, static_cast<std::size_t>(n));
    }
    constexpr char kBracketedOff[] = "\x1b[?2004l";
    writeAll(STDOUT_FILENO, kBracketedOff, std::strlen(kBracketedOff));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &before);
    ::close(record);
    return 0;
}
