#include "app/cli_audio.h"

#include "app/daemon_startup.h"
#include "audio/audio_capturer.h"
#include "audio/input_devices.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "base/numbers.h"
#include "base/serial_queue.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "foundation/process_values.h"
#include "text/formatting.h"
#include "transcribe/decode_router.h"

#include <iostream>

namespace vak {

namespace {

// Drives the main queue in 0.1 s slices for `seconds`, as the capture callbacks need it.
void runMainLoopFor(RunLoopMainQueue& loop, double seconds) {
    const auto start = SteadyClock::now();
    while (secondsSince(start) < seconds)
        loop.runFor(0.1);
}

} // namespace

int runDevicesMode(const CliInvocation&) {
    for (const auto& device : allInputDevices(*audioBackend())) {
        std::cout << (device.builtIn ? "[built-in]" : "          ") << " id=" << device.id << "  "
                  << device.name << "\n";
    }
    std::string plan;
    for (const auto& device : resolveInputCandidates(*audioBackend(), cfg().inputDevice)) {
        if (!plan.empty()) plan += " → ";
        plan += device.name;
    }
    std::cout << "→ preference \"" << cfg().inputDevice << "\" resolves to: " << plan << "\n";
    return 0;
}

int runAvTestMode(const CliInvocation&) {
    const auto backend = audioBackend();
    const auto device = backend->defaultInputDevice();
    if (!device) {
        std::cout << "AVTEST: no audio device\n";
        return 1;
    }
    std::cout << "AVTEST device: " << device->name << "\n";
    SerialQueue queue("avtest");
    auto counter = std::make_shared<AVTestCounter>();
    std::string error;
    auto stream = backend->openCapture(
        *device, queue, [counter](AudioBuffer buffer) { counter->count(buffer); }, &error);
    if (!stream) {
        std::cout << "AVTEST: input error " << error << "\n";
        return 1;
    }
    std::cout << "AVTEST: session running=" << (stream->isRunning() ? "true" : "false")
              << " — capturing 2s…" << std::endl;
    RunLoopMainQueue loop;
    runMainLoopFor(loop, 2.0);
    stream->stop();
    queue.sync([] {});
    const auto frames = counter->frames.load();
    std::cout << "AVTEST RESULT: frames=" << frames << " -> "
              << (frames >= 1 ? "✓ AVCaptureSession WORKS while AVAudioEngine is wedged"
                              : "✗ also dead")
              << "\n";
    return frames >= 1 ? 0 : 2;
}

int runMicCheckMode(const CliInvocation& invocation) {
    const auto& values = processValues();
    const std::string preference = invocation.argument.value_or(cfg().inputDevice);
    const std::string textBase = values.scratch.commandLineBase("miccheck");
    const std::string wav = textBase + ".wav";
    RunLoopMainQueue loop;
    auto capturer = AudioCapturer::create(loop, audioBackend());
    const bool started = capturer->start(
        wav, preference,
        [](const std::string& name) { std::cerr << "· switched to " << name << std::endl; },
        [] { std::cerr << "‼️ NO AUDIO from any input" << std::endl; });
    if (!started) {
        std::cout << "FAIL: capture could not start\n";
        return 1;
    }
    std::cerr << "recording 3s — say something…" << std::endl;
    runMainLoopFor(loop, 3.0);
    const AudioCapturer::Result result = capturer->stop();
    std::cout << "device=" << result.device << "  frames=" << result.frames
              << "  peak=" << result.peak << "/32767  captured="
              << fixedDecimals(static_cast<double>(result.frames) / 16000.0, 1) << "s" << std::endl;
    if (result.frames == 0) {
        std::cout << "RESULT: ✗ no audio frames — mic not delivering\n";
        return 2;
    }
    if (result.peak <= 79) {
        std::cout
            << "RESULT: ⚠️ frames flowed but near-silent — speak louder / check input level"
            << std::endl;
    }
    const auto text = runWhisper({wav, textBase, DecodeRoute::Auto},
                                 DecodeSettings::from(processValues(), processDecodeMemory()));
    // A race's loser may still be decoding; it must not outlive this process unwatched.
    stopRunningChildren(0.5);
    waitForDecodeEngines(2.0);
    if (text)
        std::cout << "transcript: "
                  << formatAndLearn(*text, TranscriptSources::from(processValues())) << "\n";
    removeFile(textBase + ".txt");
    std::cout << "RESULT: ✓ capture path works\n";
    return 0;
}

} // namespace vak
