// What one runWhisper call costs beyond the engines themselves: with engines that answer at once
// (the fake whisper-cli and the fake speech server), the time measured is the routing, the
// child processes (curl, whisper-cli), the race's hand-offs and the file work. Conditioning
// with ffmpeg is off. The last case is the race as a user meets it when the local engine hangs:
// the cloud answers after 1.2 s and nothing else may add to that.
#include "audio/wav.h"
#include "base/files.h"
#include "base/log.h"
#include "base/subprocess.h"
#include "transcribe/decode_router.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

struct Fixture {
    std::string dir;
    std::string wav;
    std::shared_ptr<vak::Subprocess> server;
    int port = 0;

    Fixture() {
        char pattern[] = "/tmp/vak_bench_decode_XXXXXX";
        dir = ::mkdtemp(pattern);
        std::filesystem::create_symlink(VAK_FAKE_WHISPER_CLI, dir + "/whisper-cli");
        vak::writeFileAtomic(dir + "/transcript.txt", "Hello world.");
        vak::writeFileAtomic(dir + "/model.bin", "model");
        std::string data;
        for (int i = 0; i < 5 * 16000; ++i) {
            const auto s = static_cast<std::int16_t>(8000 * std::sin(i * 0.17));
            data += vak::le16(static_cast<std::uint16_t>(s));
        }
        wav = dir + "/clip.wav";
        vak::writeWav16kMono(data, wav);
        answer("inference", 0);
        answer("transcribe", 0);

        vak::SpawnOptions options;
        options.argv = {VAK_FAKE_SPEECH_SERVER, "--dir", dir};
        options.pipeStdout = true;
        server = vak::Subprocess::spawn(options);
        std::string line;
        char c = 0;
        pollfd pfd{server->stdoutFd(), POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&pfd, 1, 5000) > 0 &&
               ::read(server->stdoutFd(), &c, 1) == 1) {
            line += c;
        }
        port = std::atoi(line.c_str() + 5);
    }
    ~Fixture() {
        server->kill();
        server->wait();
        std::filesystem::remove_all(dir);
    }
    void answer(const std::string& route, double delaySeconds) const {
        vak::writeFileAtomic(dir + "/" + route + ".body", R"({"text":"Hello world."})");
        vak::writeFileAtomic(dir + "/" + route + ".delay", std::to_string(delaySeconds));
    }
    vak::DecodeSettings settings(bool cloud, bool local, bool useServer) const {
        vak::DecodeSettings s;
        s.whisperCli = dir + "/whisper-cli";
        s.ffmpeg = dir + "/no-ffmpeg";
        s.model = local ? dir + "/model.bin" : dir + "/no-model.bin";
        s.vadModel = dir + "/no-vad.bin";
        const std::string base = "http://127.0.0.1:" + std::to_string(port);
        s.serverUrl = base + "/inference";
        s.prompt = "Names: Kubernetes, PostgreSQL.";
        s.config.cloud = cloud;
        s.config.useServer = useServer;
        s.config.preprocess = false;
        s.config.transcribeUrl = base + "/transcribe";
        return s;
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void decodeWith(benchmark::State& state, const vak::DecodeSettings& settings) {
    const std::string txtBase = fixture().dir + "/out";
    for (auto _ : state) {
        if (!vak::runWhisper({fixture().wav, txtBase}, settings)) state.SkipWithError("no text");
    }
    vak::waitForDecodeEngines(10); // losers still running, outside the timed loop
}

void BM_LocalViaServer(benchmark::State& state) {
    decodeWith(state, fixture().settings(false, true, true));
}
void BM_LocalViaWhisperCli(benchmark::State& state) {
    decodeWith(state, fixture().settings(false, true, false));
}
// The resident server is not running: the refused connection, then whisper-cli.
void BM_LocalDeadServerThenWhisperCli(benchmark::State& state) {
    auto settings = fixture().settings(false, true, true);
    settings.serverUrl = "http://127.0.0.1:9/inference"; // discard port: nothing listens
    decodeWith(state, settings);
}
void BM_CloudOnly(benchmark::State& state) {
    decodeWith(state, fixture().settings(true, false, false));
}
void BM_RaceCloudAndServer(benchmark::State& state) {
    decodeWith(state, fixture().settings(true, true, true));
}
void BM_RaceCloudAndWhisperCli(benchmark::State& state) {
    decodeWith(state, fixture().settings(true, true, false));
}

// Cloud after 1.2 s, local server hanging: the result time minus 1.2 s is the overhead.
void BM_RaceCloudAt1200msLocalHung(benchmark::State& state) {
    fixture().answer("transcribe", 1.2);
    fixture().answer("inference", 600);
    decodeWith(state, fixture().settings(true, true, true));
    fixture().answer("transcribe", 0);
    fixture().answer("inference", 0);
    vak::stopRunningChildren(0.5); // the hung requests of the losers
}

BENCHMARK(BM_LocalViaServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LocalViaWhisperCli)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LocalDeadServerThenWhisperCli)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CloudOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RaceCloudAndServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RaceCloudAndWhisperCli)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RaceCloudAt1200msLocalHung)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    // Decodes log a line each; keep them out of the figures' output.
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
