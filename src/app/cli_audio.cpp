#include "app/cli_modes.h"
#include "app/process_values.h"
#include "audio/input_devices.h"
#include "base/files.h"
#include "base/main_queue.h"
#include "base/serial_queue.h"
#include "base/time_util.h"

#include <cstdio>
#include <iostream>

namespace vak {

namespace {

// Drives the main queue in 0.1 s slices for `seconds`, as the capture callbacks need it.
void runMainLoopFor(double seconds) {
    const auto start = SteadyClock::now();
    while (secondsSince(start) < seconds)
        defaultRunLoop().runFor(0.1);
}

} // namespace

int runDevicesMode(const CliInvocation&) {
    for (const auto& device : allInputDevices()) {
        std::cout << (device.builtIn ? "[built-in]" : "          ") << " id=" << device.id << "  "
                  << device.name << "\n";
    }
    std::string plan;
    for (const auto& device : resolveInputCandidates(cfg().inputDevice)) {
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
    runMainLoopFor(2.0);
    stream->stop();
    queue.sync([] {});
    const auto frames = counter->frames.load();
    std::cout << "AVTEST RESULT: frames=" << frames << " -> "
              << (frames >= 1 ? "✓ AVCaptureSession WORKS while AVAudioEngine is wedged"
                              : "✗ also dead")
              << "\n";
    return frames >= 1 ? 0 : 2;
}

} // namespace vak
