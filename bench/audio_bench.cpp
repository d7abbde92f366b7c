// What the microphone path costs: converting and writing device audio, and how soon after start
// the first sample reaches the recording file, against a real PulseAudio server.
#include "audio/audio_capturer.h"
#include "audio/sample_converter.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "platform/fake/fake_audio_backend.h"
#include "platform/linux/pulse_audio_backend.h"
#include "support/pulse_server.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <thread>

#include <benchmark/benchmark.h>

namespace {

// One second of 48 kHz stereo float, in the 10 ms buffers a device delivers, through the
// converter: CPU per second of audio.
void BM_ConvertOneSecond48kStereoFloat(benchmark::State& state) {
    std::vector<vak::AudioBuffer> buffers;
    for (std::size_t i = 0; i < 100; ++i) {
        buffers.push_back(
            vak::sineBuffer(vak::SampleFormat::Float32, 48000, 2, 480, 440, 0.3, i * 480));
    }
    vak::SampleConverter converter(48000, 2);
    std::size_t samples = 0;
    for (auto _ : state) {
        for (const auto& buffer : buffers) {
            auto out = converter.convert(buffer);
            samples += out.size();
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["out_samples_per_s"] =
        static_cast<double>(samples) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ConvertOneSecond48kStereoFloat)->Unit(benchmark::kMillisecond);

// The whole capture path for one second of 48 kHz stereo float: delivery on the capture queue,
// conversion, level, and the write on the writer queue. Reports CPU of the capture and writer
// threads per second of audio (process CPU, since the work is on other threads).
void BM_CapturePathOneSecond(benchmark::State& state) {
    auto fake = std::make_shared<vak::FakeAudioBackend>();
    vak::installAudioBackend(fake);
    fake->setDevices(
        {vak::FakeAudioBackend::Device(vak::AudioDeviceInfo{1, "mic", "Mic", true, 2})});
    const std::string path =
        (std::filesystem::temp_directory_path() / "vak_bench_capture.wav").string();
    std::vector<vak::AudioBuffer> buffers;
    for (std::size_t i = 0; i < 100; ++i) {
        buffers.push_back(
            vak::sineBuffer(vak::SampleFormat::Float32, 48000, 2, 480, 440, 0.3, i * 480));
    }
    for (auto _ : state) {
        auto capturer = vak::AudioCapturer::create(vak::defaultRunLoop(), vak::audioBackend());
        capturer->start(path, "builtin", nullptr, nullptr);
        timespec before{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
        for (const auto& buffer : buffers)
            fake->deliver("mic", buffer);
        const auto result = capturer->stop(); // waits for every queued conversion and write
        timespec after{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
        state.SetIterationTime(static_cast<double>(after.tv_sec - before.tv_sec) +
                               static_cast<double>(after.tv_nsec - before.tv_nsec) * 1e-9);
        benchmark::DoNotOptimize(result.frames);
    }
    vak::removeFile(path);
    vak::installAudioBackend(nullptr);
}
BENCHMARK(BM_CapturePathOneSecond)->UseManualTime()->Unit(benchmark::kMillisecond);

// From start() returning to the first converted sample in the file, on a private PulseAudio
// server whose pipe source is fed continuously, as a live microphone is.
void BM_StartToFirstSample(benchmark::State& state) {
    vak::test::PulseServer server;
    if (!server.running()) {
        state.SkipWithError(("no PulseAudio server: " + server.why()).c_str());
        return;
    }
    vak::installAudioBackend(std::make_shared<vak::PulseAudioBackend>());
    std::vector<std::int16_t> tone(48000 * 30);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<std::int16_t>(
            6000 * std::sin(2 * M_PI * 300 * static_cast<double>(i) / 48000));
    }
    server.feed(tone);
    const std::string path =
        (std::filesystem::temp_directory_path() / "vak_bench_first_sample.wav").string();
    for (auto _ : state) {
        auto capturer = vak::AudioCapturer::create(vak::defaultRunLoop(), vak::audioBackend());
        if (!capturer->start(path, "test pipe", nullptr, nullptr)) {
            state.SkipWithError("capture did not start");
            break;
        }
        const auto started = std::chrono::steady_clock::now();
        while (vak::fileSize(path).value_or(0) <= 44) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (std::chrono::steady_clock::now() - started > std::chrono::seconds(5)) break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        capturer->stop();
    }
    vak::removeFile(path);
    vak::installAudioBackend(nullptr);
}
BENCHMARK(BM_StartToFirstSample)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
