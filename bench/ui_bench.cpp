// What the interface costs: one frame of the level bars, and the process's CPU and memory with
// the interface idle (status item, hidden pill, the half-second clock) and with the pill showing
// and animating at 30 frames per second with captions arriving. Runs on a private Xvfb display
// (Qt's offscreen platform when Xvfb is missing); the X server's own CPU time is reported apart.
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "platform/platform_services.h"
#include "process_stats.h"
#include "support/xvfb.h"
#include "transcribe/decode_settings.h"
#include "ui/qt_main_queue.h"
#include "ui/ui_controller.h"
#include "ui/waveform_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

vak::test::Xvfb* display = nullptr;
vak::MainQueue* queue = nullptr;

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void runEventLoop(double seconds) {
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer,
                       [] { QCoreApplication::exit(0); });
    QApplication::exec();
}

// Runs the loop for `seconds` and reports both processes' CPU use as % of one core.
void measure(benchmark::State& state, double seconds) {
    const pid_t server = display != nullptr ? display->serverPid() : -1;
    const double cpu = processCpuSeconds();
    const double serverCpu = vak::bench::cpuSeconds(server);
    QElapsedTimer wall;
    wall.start();
    runEventLoop(seconds);
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    state.SetIterationTime(elapsed);
    state.counters["cpu_%"] = (processCpuSeconds() - cpu) / elapsed * 100;
    state.counters["xserver_cpu_%"] = (vak::bench::cpuSeconds(server) - serverCpu) / elapsed * 100;
    state.counters["rss_MB"] = vak::bench::residentMegabytes(getpid());
}

void BM_WaveformFrame(benchmark::State& state) {
    QWidget host;
    vak::WaveformView bars(&host);
    bars.resize(240, 28);
    QImage image(240, 28, QImage::Format_ARGB32_Premultiplied);
    float level = 0.8f;
    for (auto _ : state) {
        bars.setLevel(level);
        level = level > 0.9f ? 0.1f : level + 0.01f;
        bars.frame();
        image.fill(Qt::transparent);
        bars.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_WaveformFrame);

void BM_InterfaceIdle(benchmark::State& state) {
    for (auto _ : state) {
        vak::UIController ui(nullptr, *queue, vak::cfg(),
                             vak::UiServices::from(vak::processValues(),
                                                   vak::PlatformServices::installed(),
                                                   vak::DecodeMemory::fresh()));
        ui.setup();
        runEventLoop(1); // settle
        measure(state, static_cast<double>(state.range(0)));
    }
}
BENCHMARK(BM_InterfaceIdle)->Arg(60)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_PillAnimating(benchmark::State& state) {
    for (auto _ : state) {
        vak::UIController ui(nullptr, *queue, vak::cfg(),
                             vak::UiServices::from(vak::processValues(),
                                                   vak::PlatformServices::installed(),
                                                   vak::DecodeMemory::fresh()));
        ui.setup();
        ui.recordingStarted();
        // A microphone's level every 20 ms and a caption every 2 s, as in a dictation.
        double t = 0;
        QTimer level;
        QObject::connect(&level, &QTimer::timeout, [&] {
            t += 0.02;
            ui.setLevel(static_cast<float>(0.5 + 0.4 * std::sin(7 * t)));
        });
        level.start(20);
        std::string caption;
        QTimer captions;
        QObject::connect(&captions, &QTimer::timeout, [&] {
            caption += "and then we talked about the next release and what it should hold ";
            ui.setCaption(caption);
        });
        captions.start(2000);
        runEventLoop(1);
        measure(state, static_cast<double>(state.range(0)));
        ui.recordingStopped();
    }
}
BENCHMARK(BM_PillAnimating)->Arg(20)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    // A private home, so the interface's log lines and files stay out of the user's.
    char home[] = "/tmp/vak_bench_ui_XXXXXX";
    if (mkdtemp(home) == nullptr) return 1;
    setenv("HOME", home, 1);
    vak::initProcessValues({argv[0]});

    auto xvfb = std::make_unique<vak::test::Xvfb>();
    if (xvfb->running()) {
        display = xvfb.get();
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    vak::QtMainQueue main;
    queue = &main;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(home);
    return 0;
}
