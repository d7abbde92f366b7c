#pragma once

// The loop of the tools' loopback servers: listen on 127.0.0.1:PORT (0: a free one), say
// "PORT <n>" on a line of its own, then serve every connection on a thread of its own until the
// reader of that line goes away: a test that crashed or was killed leaves no server behind.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tools {

template <typename Serve>
int serveOnLoopback(int port, Serve serve) {
    std::signal(SIGPIPE, SIG_IGN);
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0) {
        std::perror("bind");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("PORT %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    // A pipe's writing end reports an error once nobody holds its reading end; a terminal or a
    // file never does, so a server started by hand runs on.
    std::thread([] {
        pollfd out{STDOUT_FILENO, 0, 0};
        while (::poll(&out, 1, -1) < 0) {
        }
        std::_Exit(0);
    }).detach();
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) std::thread(serve, client).detach();
    }
}

} // namespace tools
