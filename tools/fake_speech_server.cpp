// A stand-in for the speech and rewrite services on the loopback address: the resident
// whisper-server (/inference), the cloud transcription service (/transcribe), the rewrite proxy
// (/api/polish), the Anthropic Messages API (/v1/messages), Groq's chat completions
// (/openai/v1/chat/completions), and a server of the OpenAI protocol: chat completions
// (/v1/chat/completions, as local model servers offer) and audio transcriptions
// (/v1/audio/transcriptions). It answers each request as its control folder says and records
// what it received.
//
// Usage: vak-fake-speech-server --dir DIR [--port N]
//   Port 0 (the default) takes a free port. Once listening it prints "PORT <n>" on a line of its
//   own on standard output. Runs until terminated.
// Control files, read again for every request (ROUTE is "inference", "transcribe", "polish",
// "messages" or "chat"):
//   ROUTE.body    the response body; without it the answer is a 500 error
//   ROUTE.status  HTTP status (default 200)
//   ROUTE.delay   seconds to wait before answering (default 0)
//   ROUTE.if-FIELD.body, ROUTE.if-FIELD.status   the answer instead when the request has the
//                 form field FIELD (as the real whisper-server fails vad=true without a VAD model)
// Record: DIR/requests.log, one JSON object per line, written when the request has been read:
//   {"path", "method", "headers": {lower-case name: value}, "fields": {name: value},
//    "files": {name: {"filename", "size", "wav"}}, "body" (the raw body, when not multipart),
//    "time_ms"}
#include "loopback_server.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string controlDir;

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string lower(std::string text) {
    for (auto& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of `name`="…" (or unquoted) inside a header line.
std::string headerParameter(const std::string& header, const std::string& name) {
    const auto at = header.find(name + "=");
    if (at == std::string::npos) return "";
    std::size_t start = at + name.size() + 1;
    if (start < header.size() && header[start] == '"') {
        const auto end = header.find('"', start + 1);
        return header.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    }
    const auto end = header.find_first_of("; \r\n", start);
    return header.substr(start, end == std::string::npos ? end : end - start);
}

nlohmann::json parseMultipart(const std::string& body, const std::string& boundary) {
    nlohmann::json fields = nlohmann::json::object();
    nlohmann::json files = nlohmann::json::object();
    const std::string delimiter = "--" + boundary;
    std::size_t pos = body.find(delimiter);
    while (pos != std::string::npos) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0) break; // closing delimiter
        pos += 2;                                   // CRLF after the delimiter
        const auto headersEnd = body.find("\r\n\r\n", pos);
        if (headersEnd == std::string::npos) break;
        const std::string headers = body.substr(pos, headersEnd - pos);
        const auto contentStart = headersEnd + 4;
        const auto next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string::npos) break;
        const std::string content = body.substr(contentStart, next - contentStart);
        const std::string name = headerParameter(headers, "name");
        if (headers.find("filename=") != std::string::npos) {
            files[name] = {{"filename", headerParameter(headers, "filename")},
                           {"size", content.size()},
                           {"wav", content.compare(0, 4, "RIFF") == 0}};
        } else {
            fields[name] = content;
        }
        pos = next + 2;
    }
    return {{"fields", fields}, {"files", files}};
}

// The header lines after the request line; a repeated name keeps its last value.
nlohmann::json parseHeaders(const std::string& head) {
    nlohmann::json headers = nlohmann::json::object();
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const auto end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            const auto value = line.find_first_not_of(' ', colon + 1);
            headers[lower(line.substr(0, colon))] =
                value == std::string::npos ? "" : line.substr(value);
        }
        start = end;
    }
    return headers;
}

void appendRecord(const nlohmann::json& record) {
    const std::string line =
        record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const int fd =
        open((controlDir + "/requests.log").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0) return;
    if (write(fd, line.data(), line.size()) < 0) {
        // A lost record shows up in the test that looks for it.
    }
    close(fd);
}

// A server gone wrong: a 200 whose body is control bytes and broken UTF-8, a piece every 20 ms,
// until `seconds` have passed or the client hangs up.
void streamGarbage(int fd, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool open = sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                            "Connection: close\r\n\r\n");
    for (unsigned piece = 0; open && std::chrono::steady_clock::now() < end; ++piece) {
        open = sendAll(fd, "data: \x01\xff\xfe{\"choices\":[" + std::to_string(piece) +
                               std::string("\0\n", 2));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    shutdown(fd, SHUT_WR);
    close(fd);
}

void serve(int fd) {
    std::string request;
    char buffer[65536];
    std::size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            close(fd);
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
        headerEnd = request.find("\r\n\r\n");
    }
    const std::string head = request.substr(0, headerEnd);
    const std::string headLower = lower(head);
    std::size_t contentLength = 0;
    if (const auto at = headLower.find("\r\ncontent-length:"); at != std::string::npos)
        contentLength = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    if (headLower.find("\r\nexpect: 100-continue") != std::string::npos)
        sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
    std::string body = request.substr(headerEnd + 4);
    while (body.size() < contentLength) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        body.append(buffer, static_cast<std::size_t>(n));
    }

    const auto firstSpace = head.find(' ');
    const auto secondSpace = head.find(' ', firstSpace + 1);
    const std::string method = head.substr(0, firstSpace);
    const std::string path = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::string contentType;
    if (const auto at = headLower.find("\r\ncontent-type:"); at != std::string::npos)
        contentType = head.substr(at + 15, head.find("\r\n", at + 2) - at - 15);

    nlohmann::json record = parseMultipart(body, headerParameter(contentType, "boundary"));
    if (lower(contentType).find("multipart/") == std::string::npos) record["body"] = body;
    record["headers"] = parseHeaders(head);
    record["path"] = path;
    record["method"] = method;
    record["time_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    appendRecord(record);

    std::string route;
    if (path == "/inference") route = "inference";
    if (path == "/transcribe") route = "transcribe";
    if (path == "/api/polish") route = "polish";
    if (path == "/v1/messages") route = "messages";
    if (path == "/openai/v1/chat/completions") route = "chat";
    if (path == "/v1/chat/completions") route = "completions";
    if (path == "/v1/audio/transcriptions") route = "transcriptions";
    int status = 404;
    std::string answer = "{\"error\":\"not found\"}";
    if (!route.empty()) {
        const auto configured = readFile(controlDir + "/" + route + ".body");
        status =
            configured
                ? std::atoi(readFile(controlDir + "/" + route + ".status").value_or("200").c_str())
                : 500;
        answer = configured.value_or("{\"error\":\"no answer configured\"}");
        if (record.contains("fields")) {
            for (const auto& [field, value] : record["fields"].items()) {
                const std::string base = controlDir + "/" + route + ".if-" + field;
                if (const auto special = readFile(base + ".body")) {
                    answer = *special;
                    status = std::atoi(readFile(base + ".status").value_or("200").c_str());
                }
            }
        }
        const double delay =
            std::atof(readFile(controlDir + "/" + route + ".delay").value_or("0").c_str());
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        if (const auto garbage = readFile(controlDir + "/" + route + ".garbage")) {
            streamGarbage(fd, std::atof(garbage->c_str()));
            return;
        }
    }
    sendAll(fd, "HTTP/1.1 " + std::to_string(status) +
                    " Fake\r\nContent-Type: application/json\r\n"
                    "Content-Length: " +
                    std::to_string(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer);
    shutdown(fd, SHUT_WR);
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--dir")
            controlDir = argv[i + 1];
        else if (option == "--port")
            port = std::atoi(argv[i + 1]);
    }
    if (controlDir.empty()) {
        std::fprintf(stderr, "usage: %s --dir DIR [--port N]\n", argv[0]);
        return 64;
    }
    return tools::serveOnLoopback(port, serve);
}
