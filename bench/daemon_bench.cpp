// The whole daemon's footprint: CPU and resident memory while idle for a minute, and while a
// recording runs (capture, level bars and clock) — on a private Xvfb display and PulseAudio
// server, with the optimised program of this build.
#include "base/files.h"
#include "base/subprocess.h"
#include "process_stats.h"
#include "support/pulse_server.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <thread>

#include <benchmark/benchmark.h>

namespace {

struct Daemon {
    vak::test::TempDir home;
    std::shared_ptr<vak::Subprocess> process;

    explicit Daemon(const std::string& pulseAddress, const std::string& display) {
        std::filesystem::create_directories(home.file(".dictation"));
        vak::test::writeFixture(home.file(".dictation/config"),
                                "CLOUD=0\nSERVER=0\nINPUT_DEVICE=test pipe\n");
        vak::SpawnOptions options;
        options.argv = {VAK_DAEMON};
        options.environment = {"HOME=" + home.path(), "DISPLAY=" + display,
                               "PULSE_SERVER=" + pulseAddress, "VAK_TMPDIR=" + home.path(),
                               "DBUS_SESSION_BUS_ADDRESS=disabled:"};
        process = vak::Subprocess::spawn(options);
    }
    ~Daemon() {
        if (!process) return;
        process->terminate();
        auto watchdog = vak::armWatchdog(process, 5);
        process->wait();
        watchdog.cancel();
    }
    bool up() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto log = vak::readTextFile(home.file(".dictation/vak.log")).value_or("");
            if (log.find("▶ Brindle") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

// A private display and sound server with the daemon running on them.
struct Desk {
    vak::test::Xvfb display;
    vak::test::PulseServer pulse;
    std::unique_ptr<Daemon> daemon;

    bool ready(benchmark::State& state) {
        if (!display.running() || !pulse.running()) {
            state.SkipWithError("no private display or sound server");
            return false;
        }
        daemon = std::make_unique<Daemon>(pulse.serverAddress(), display.display());
        if (!daemon->process || !daemon->up()) {
            state.SkipWithError("the daemon did not come up");
            return false;
        }
        return true;
    }
};

// Runs for `seconds` and reports the daemon's CPU as % of one core and its resident memory.
void watch(benchmark::State& state, pid_t pid, double seconds) {
    const double before = vak::bench::cpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(elapsed);
    state.counters["cpu_%"] = (vak::bench::cpuSeconds(pid) - before) / elapsed * 100;
    state.counters["rss_MB"] = vak::bench::residentMegabytes(pid);
}

void BM_DaemonIdleOneMinute(benchmark::State& state) {
    Desk desk;
    if (!desk.ready(state)) return;
    std::this_thread::sleep_for(std::chrono::seconds(2)); // past the start-up work
    for (auto _ : state)
        watch(state, desk.daemon->process->pid(), 60);
}
BENCHMARK(BM_DaemonIdleOneMinute)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_DaemonRecordingTwentySeconds(benchmark::State& state) {
    Desk desk;
    if (!desk.ready(state)) return;
    auto& daemon = *desk.daemon;
    auto& pulse = desk.pulse;
    std::vector<std::int16_t> voice(48000 * 25);
    for (std::size_t i = 0; i < voice.size(); ++i) {
        voice[i] = static_cast<std::int16_t>(
            8000 * std::sin(2 * M_PI * 220 * static_cast<double>(i) / 48000) *
            (0.5 + 0.5 * std::sin(2 * M_PI * 3 * static_cast<double>(i) / 48000)));
    }
    ::kill(daemon.process->pid(), SIGUSR1); // start a recording
    pulse.feed(voice);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    for (auto _ : state)
        watch(state, daemon.process->pid(), 20);
    ::kill(daemon.process->pid(), SIGUSR1);
    pulse.waitFed();
}
BENCHMARK(BM_DaemonRecordingTwentySeconds)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
