// A stand-in for the model download site on the loopback address: serves the files of a folder
// over HTTP/1.1 with HEAD, GET and byte ranges ("Range: bytes=N-"), as the real host does.
//
// Usage: vak-model-host --dir DIR [--port N] [--cut-after BYTES] [--rate BYTES] [--log FILE]
//   Port 0 (the default) takes a free port; once listening it prints "PORT <n>" on a line of its
//   own. --cut-after drops the connection of the first GET after that many body bytes, as a
//   broken download would. --rate sends at most that many body bytes a second, as a slow line
//   does. --log appends "METHOD PATH RANGE" per request. Runs until terminated.
#include "loopback_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string folder;
std::string logPath;
long long cutAfter = -1;
long long rate = 0; // body bytes a second; 0: as fast as it goes
std::atomic<bool> cutDone{false};

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sendText(int fd, const std::string& text) {
    return sendAll(fd, text.data(), text.size());
}

std::string headerValue(const std::string& head, const std::string& name) {
    std::string lower = head;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos) return "";
    auto begin = at + name.size() + 3;
    while (begin < head.size() && head[begin] == ' ')
        ++begin;
    return head.substr(begin, head.find("\r\n", begin) - begin);
}

void serve(int fd) {
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1 &&
           head.size() < 16384)
        head += c;
    const auto space = head.find(' ');
    const std::string method = head.substr(0, space);
    const std::string path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    const std::string range = headerValue(head, "range");
    if (!logPath.empty())
        std::ofstream(logPath, std::ios::app)
            << method << " " << path << " " << (range.empty() ? "-" : range) << "\n";
    struct stat info {};
    const std::string file = folder + path;
    if (path.find("..") != std::string::npos || stat(file.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        sendText(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\n"
                     "Not Found");
        close(fd);
        return;
    }
    const long long size = info.st_size;
    long long from = 0;
    if (range.rfind("bytes=", 0) == 0) from = std::atoll(range.c_str() + 6);
    if (from >= size && size > 0) {
        sendText(fd, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                         std::to_string(size) +
                         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        close(fd);
        return;
    }
    std::string response = from > 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    if (from > 0)
        response += "Content-Range: bytes " + std::to_string(from) + "-" +
                    std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n";
    response += "Accept-Ranges: bytes\r\nContent-Type: application/octet-stream\r\n"
                "Content-Length: " +
                std::to_string(size - from) + "\r\nConnection: close\r\n\r\n";
    if (!sendText(fd, response) || method == "HEAD") {
        close(fd);
        return;
    }
    long long limit = size - from;
    if (cutAfter >= 0 && !cutDone.exchange(true)) limit = std::min(limit, cutAfter);
    std::ifstream in(file, std::ios::binary);
    in.seekg(from);
    char buffer[65536];
    // Slow: a tenth of a second's worth at a time.
    const long long piece = rate > 0 ? std::max(1LL, rate / 10) : sizeof buffer;
    while (limit > 0 && in) {
        if (rate > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        in.read(buffer, std::min<long long>({limit, piece, sizeof buffer}));
        const auto got = in.gcount();
        if (got <= 0 || !sendAll(fd, buffer, static_cast<std::size_t>(got))) break;
        limit -= got;
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--dir") folder = argv[i + 1];
        if (option == "--port") port = std::atoi(argv[i + 1]);
        if (option == "--cut-after") cutAfter = std::atoll(argv[i + 1]);
        if (option == "--rate") rate = std::atoll(argv[i + 1]);
        if (option == "--log") logPath = argv[i + 1];
    }
    if (folder.empty()) {
        std::fprintf(stderr,
                     "usage: %s --dir DIR [--port N] [--cut-after BYTES] [--rate BYTES] [--log "
                     "FILE]\n",
                     argv[0]);
        return 64;
    }
    return tools::serveOnLoopback(port, serve);
}
