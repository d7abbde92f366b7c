// What one live-caption pass costs on the real whisper.cpp, on this machine: through whisper-cli
// (a model load per pass, whisper-cli's own thread count) and through a resident whisper-server
// holding the caption model (one and two threads), each pass made by the caption engine itself.
// Then the same while the decode server is busy decoding, as it is during a dictation with
// rolling chunks; and one pass through the decode server with a model the size of the default
// decode model, which is what captions through the decode server would cost.
//
// Needs the whisper.cpp build that ./scripts/test makes: VAK_REAL_WHISPER_BIN (whisper-cli and
// whisper-server) and VAK_REAL_WHISPER_DATA (whisper.cpp's models/ and samples/). whisper.cpp's
// test models have the real models' shapes, so the encoder does the real work, but no weights:
// loading them costs less than loading a real model (that difference is measured separately as
// reading a file of the real model's size), and they decode no words.
//
// Usage: vak_bench_captions [--passes N] [--skip-decode-model]
#include "audio/wav.h"
#include "base/files.h"
#include "base/log.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "foundation/config.h"
#include "foundation/scratch_files.h"
#include "transcribe/caption_engine.h"
#include "transcribe/engine_threads.h"
#include "transcribe/server_keeper.h"
#include "transcribe/speech_tools.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace vak;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

long residentKib(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A resident server kept by the daemon's own keeper; waits until it answers.
std::unique_ptr<ServerKeeper> startServer(const std::string& bin, const std::string& model,
                                          int threads, int& port) {
    ServerKeeperSettings settings;
    settings.name = "bench whisper-server";
    settings.tool = bin + "/whisper-server";
    settings.model = model;
    settings.port = port = freePort();
    settings.threads = threads;
    auto keeper = ServerKeeper::start(settings);
    const auto deadline = deadlineAfter(120);
    while (keeper && !serverAnswers("/usr/bin/curl", port) && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return keeper;
}

struct Path {
    std::string label;
    std::string threads;
    std::shared_ptr<CaptionEngine> engine;
};

// A caption pass's limit is max(4 × interval, 10) seconds; `interval` 2 is the default.
Path makePath(const std::string& label, const std::string& threads, const std::string& cli,
              const std::string& model, const std::string& serverUrl, const std::string& scratch,
              double interval = 2) {
    CaptionSettings settings;
    settings.liveCaptions = true;
    settings.intervalSeconds = interval;
    settings.windowSeconds = 10;
    settings.model = model;
    settings.serverUrl = serverUrl;
    settings.whisperCli = cli;
    std::filesystem::create_directories(scratch);
    settings.scratchBase = ScratchFiles(scratch).captionBase();
    return {label, threads, CaptionEngine::create(settings)};
}

// Seconds one caption pass over `wav` takes (the whole clip is one decode: it is within the
// window).
double timePass(Path& path, const std::string& wav) {
    path.engine->simStart(wav);
    const auto start = SteadyClock::now();
    path.engine->simPass();
    return secondsSince(start);
}

std::string clip(const std::string& jfk, const std::string& dir, int seconds) {
    const std::string sample = readFileBytes(jfk).value_or("");
    const auto offset = findWavDataOffset(jfk).value_or(44);
    const std::size_t bytes = static_cast<std::size_t>(seconds) * kBytesPerSecond;
    const std::string path = dir + "/clip" + std::to_string(seconds) + ".wav";
    writeFileAtomic(path, wavHeader(bytes) + sample.substr(offset, bytes), 0600);
    return path;
}

// The decode server kept busy, one request after another, until stopped (the request in flight
// is abandoned: whisper-server stops a decode whose client has gone).
class BusyDecoder {
  public:
    BusyDecoder(int port, std::string wav) {
        thread_ = std::thread([this, port, wav = std::move(wav)] {
            while (!stop_.load()) {
                RunOptions run;
                run.timeoutSeconds = 600;
                run.cancel = &stop_;
                runProcess(captionServerArguments(
                               "/usr/bin/curl",
                               "http://127.0.0.1:" + std::to_string(port) + "/inference", wav, 590),
                           run);
            }
        });
    }
    ~BusyDecoder() {
        stop_.store(true);
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// From starting whisper-server to its first answer: the model load and the set-up a whisper-cli
// run also makes before its encoder starts.
double secondsToAnswer(const std::string& bin, const std::string& model) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const int port = freePort();
        SpawnOptions spawn;
        spawn.argv = {bin + "/whisper-server", "-m", model, "--host", "127.0.0.1", "--port",
                      std::to_string(port),    "-t", "2"};
        const auto start = SteadyClock::now();
        auto server = Subprocess::spawn(spawn);
        while (server && !server->hasExited() && !serverAnswers("/usr/bin/curl", port))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        times.push_back(secondsSince(start));
        if (server) {
            server->terminate();
            server->wait();
        }
    }
    return median(times);
}

double secondsToRead(const std::string& path, std::int64_t bytes) {
    {
        std::ofstream out(path, std::ios::binary);
        const std::string block(1 << 20, '\x5a');
        for (std::int64_t written = 0; written < bytes; written += block.size())
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = SteadyClock::now();
        std::ifstream in(path, std::ios::binary);
        std::vector<char> buffer(static_cast<std::size_t>(bytes));
        in.read(buffer.data(), bytes);
        times.push_back(secondsSince(start));
    }
    removeFile(path);
    return median(times);
}

} // namespace

int main(int argc, char** argv) {
    int passes = 5;
    bool decodeModel = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--passes" && i + 1 < argc) passes = std::max(1, std::atoi(argv[++i]));
        if (arg == "--skip-decode-model") decodeModel = false;
    }
    const std::string bin = environment("VAK_REAL_WHISPER_BIN");
    const std::string data = environment("VAK_REAL_WHISPER_DATA");
    if (!isExecutableFile(bin + "/whisper-server") || !isRegularFile(data + "/samples/jfk.wav")) {
        std::fprintf(stderr, "vak_bench_captions: set VAK_REAL_WHISPER_BIN and "
                             "VAK_REAL_WHISPER_DATA to the whisper.cpp build of ./scripts/test "
                             "(build-test/whisper-engine/bin and …/data)\n");
        return 2;
    }
    char pattern[] = "/tmp/vak_bench_captions_XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    setLogPath(dir + "/log");
    const std::string cli = bin + "/whisper-cli";
    const std::string captionModel = data + "/models/for-tests-ggml-base.en.bin";
    const std::string bigModel = data + "/models/for-tests-ggml-large.bin";
    const std::string jfk = data + "/samples/jfk.wav";
    const std::vector<int> seconds = {3, 6, 10};
    std::map<int, std::string> clips;
    for (const int s : seconds)
        clips[s] = clip(jfk, dir, s);

    int port1 = 0;
    int port2 = 0;
    auto server1 = startServer(bin, captionModel, 1, port1);
    auto server2 = startServer(bin, captionModel, 2, port2);
    if (!server1 || !server2) {
        std::fprintf(stderr, "vak_bench_captions: the caption servers did not start\n");
        return 1;
    }
    const auto url = [](int port) {
        return "http://127.0.0.1:" + std::to_string(port) + "/inference";
    };
    std::vector<Path> paths = {
        makePath("whisper-cli", "2 (its own)", cli, captionModel, "", dir + "/cli"),
        makePath("caption server", "1", "/nonexistent", captionModel, url(port1), dir + "/s1"),
        makePath("caption server", "2", "/nonexistent", captionModel, url(port2), dir + "/s2"),
    };

    std::printf("| path | threads | clip | pass: median | fastest | slowest |\n");
    std::printf("|---|---|---|---|---|---|\n");
    // Interleaved, so that load from elsewhere falls on every path alike.
    std::map<std::pair<std::size_t, int>, std::vector<double>> idle;
    for (int pass = 0; pass < passes; ++pass)
        for (const int s : seconds)
            for (std::size_t p = 0; p < paths.size(); ++p)
                idle[{p, s}].push_back(timePass(paths[p], clips[s]));
    for (std::size_t p = 0; p < paths.size(); ++p) {
        for (const int s : seconds) {
            const auto& t = idle[{p, s}];
            std::printf("| %s | %s | %d s | %.2f s | %.2f s | %.2f s |\n", paths[p].label.c_str(),
                        paths[p].threads.c_str(), s, median(t),
                        *std::min_element(t.begin(), t.end()),
                        *std::max_element(t.begin(), t.end()));
        }
    }
    std::printf("\nResident memory of a caption server (test model, no weights): %ld KiB "
                "(1 thread), %ld KiB (2 threads)\n",
                residentKib(server1->pid()), residentKib(server2->pid()));
    std::printf("From starting whisper-server with the caption model to its first answer: %.0f ms "
                "(curl's polls included)\n",
                1000 * secondsToAnswer(bin, captionModel));
    std::printf("Reading a file of base.en-q5_1's size (57 MiB) from the page cache: %.0f ms; of "
                "large-v3-turbo-q5_0's (547 MiB): %.0f ms\n",
                1000 * secondsToRead(dir + "/weights", 57ll << 20),
                1000 * secondsToRead(dir + "/weights", 547ll << 20));

    if (decodeModel) {
        int decodePort = 0;
        auto decoder = startServer(bin, bigModel, engineThreads(true).decode, decodePort);
        if (!decoder) {
            std::fprintf(stderr, "vak_bench_captions: the decode server did not start\n");
            return 1;
        }
        // A longer limit than a pass has (10 s), to see the whole of it.
        Path viaDecoder =
            makePath("decode server, large-v3 shape", std::to_string(engineThreads(true).decode),
                     "/nonexistent", bigModel, url(decodePort), dir + "/d", 30);
        std::printf("\n| path | threads | clip | one pass |\n|---|---|---|---|\n");
        std::printf("| %s | %s | 6 s | %.1f s |\n", viaDecoder.label.c_str(),
                    viaDecoder.threads.c_str(), timePass(viaDecoder, clips[6]));

        // The decode server busy all the while with one decode after another.
        std::map<std::size_t, std::vector<double>> busy;
        {
            const BusyDecoder load(decodePort, clips[10]);
            std::this_thread::sleep_for(std::chrono::seconds(1));
            for (int pass = 0; pass < passes; ++pass)
                for (std::size_t p = 0; p < paths.size(); ++p)
                    busy[p].push_back(timePass(paths[p], clips[6]));
        }
        std::printf("\nWhile the decode server (%d thread%s) decodes:\n\n"
                    "| path | threads | clip | pass: median | fastest | slowest |\n"
                    "|---|---|---|---|---|---|\n",
                    engineThreads(true).decode, engineThreads(true).decode == 1 ? "" : "s");
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const auto& t = busy[p];
            std::printf("| %s | %s | 6 s | %.2f s | %.2f s | %.2f s |\n", paths[p].label.c_str(),
                        paths[p].threads.c_str(), median(t), *std::min_element(t.begin(), t.end()),
                        *std::max_element(t.begin(), t.end()));
        }
    }
    // A pass that failed or fell back says so in the log.
    const std::string logged = readTextFile(dir + "/log").value_or("");
    std::size_t start = 0;
    while (start < logged.size()) {
        const auto end = std::min(logged.find('\n', start), logged.size());
        const std::string line = logged.substr(start, end - start);
        if (line.find("caption") != std::string::npos)
            std::printf("LOGGED (a pass failed or fell back): %s\n", line.c_str());
        start = end + 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
