#include "support/speech_fakes.h"

#include "audio/wav.h"
#include "base/file_digest.h"
#include "base/subprocess.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vak::test {

FakeWhisper::FakeWhisper() {
    std::filesystem::create_symlink(VAK_FAKE_WHISPER_CLI, path());
}

void FakeWhisper::setTranscript(const std::string& text) const {
    writeFixture(dir_.file("transcript.txt"), text);
}

void FakeWhisper::setControl(const std::string& lines) const {
    writeFixture(dir_.file("fake-whisper.conf"), lines + "\n");
}

std::vector<FakeWhisperCall> FakeWhisper::calls() const {
    std::vector<FakeWhisperCall> calls;
    for (const auto& line : splitText(readFixture(dir_.file("calls.log")), '\n')) {
        auto fields = splitText(line, '\x1f');
        if (fields.size() < 2) continue;
        FakeWhisperCall call;
        call.pid = std::atoi(fields[0].c_str());
        call.startMs = std::atoll(fields[1].c_str());
        call.args.assign(fields.begin() + 2, fields.end());
        calls.push_back(std::move(call));
    }
    return calls;
}

void LoopbackServer::start(const std::vector<std::string>& argv) {
    SpawnOptions options;
    options.argv = argv;
    options.pipeStdout = true;
    process_ = Subprocess::spawn(options);
    if (!process_) throw std::runtime_error("cannot start " + argv[0]);
    std::string line;
    char c = 0;
    pollfd pfd{process_->stdoutFd(), POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&pfd, 1, 5000) > 0 &&
           ::read(process_->stdoutFd(), &c, 1) == 1) {
        line += c;
    }
    if (line.rfind("PORT ", 0) != 0) throw std::runtime_error(argv[0] + ": " + line);
    port_ = std::atoi(line.c_str() + 5);
}

LoopbackServer::~LoopbackServer() {
    if (!process_) return;
    process_->kill();
    process_->wait();
}

pid_t LoopbackServer::pid() const {
    return process_->pid();
}

std::string LoopbackServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

FakeSpeechServer::FakeSpeechServer() {
    start({VAK_FAKE_SPEECH_SERVER, "--dir", dir_.path()});
}

ModelHost::ModelHost(long long cutAfterBytes, long long bytesPerSecond) {
    start({VAK_MODEL_HOST, "--dir", dir_.path(), "--cut-after", std::to_string(cutAfterBytes),
           "--rate", std::to_string(bytesPerSecond), "--log", logDir_.file("requests.log")});
}

std::string ModelHost::publish(const std::string& name, std::size_t bytes,
                               const char* magic) const {
    std::string body = magic;
    for (std::size_t i = 0; body.size() < bytes; ++i)
        body += static_cast<char>((i * 7919 + i / 251) & 0xff);
    writeFixture(dir_.file(name), body);
    return fileDigestHex(dir_.file(name), Digest::Sha1).value_or("");
}

std::vector<std::string> ModelHost::requests() const {
    return splitText(readFixture(logDir_.file("requests.log")), '\n');
}

void FakeSpeechServer::answer(const std::string& route, const std::string& body,
                              double delaySeconds, int status) const {
    writeFixture(dir_.file(route + ".status"), std::to_string(status));
    writeFixture(dir_.file(route + ".delay"), std::to_string(delaySeconds));
    writeFixture(dir_.file(route + ".body"), body);
    std::filesystem::remove(dir_.file(route + ".garbage"));
}

void FakeSpeechServer::streamGarbage(const std::string& route, double seconds) const {
    answer(route, "{}");
    writeFixture(dir_.file(route + ".garbage"), std::to_string(seconds));
}

std::vector<nlohmann::json> FakeSpeechServer::requests() const {
    return readJsonLines(dir_.file("requests.log"));
}

std::string deadUrl(std::string_view path) {
    // Bind a port and close it again: nothing listens there for the rest of the test.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + std::string(path);
}

std::string toneWav(double seconds) {
    std::string data;
    const auto count = static_cast<std::size_t>(seconds * 16000);
    for (std::size_t i = 0; i < count; ++i) {
        const double value = 8000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 16000);
        data += le16(static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    }
    return wavHeader(static_cast<std::uint32_t>(data.size())) + data;
}

std::vector<pid_t> childProcesses() {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0) continue;
        std::string line;
        std::getline(std::ifstream(entry.path() / "stat"), line);
        // "pid (comm) state ppid …"; comm may hold blanks, so read after the last ')'.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && state != 'Z') children.push_back(pid);
    }
    return children;
}

std::string commandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const auto& arg : args) {
        if (!line.empty()) line += ' ';
        line += arg.find(' ') == std::string::npos ? arg : "'" + arg + "'";
    }
    return line;
}

std::vector<std::string> splitText(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    std::istringstream in(text);
    while (std::getline(in, piece, separator))
        pieces.push_back(piece);
    return pieces;
}

std::vector<nlohmann::json> readJsonLines(const std::string& path) {
    std::vector<nlohmann::json> values;
    for (const auto& line : splitText(readFixture(path), '\n'))
        if (!line.empty()) values.push_back(nlohmann::json::parse(line));
    return values;
}

} // namespace vak::test
