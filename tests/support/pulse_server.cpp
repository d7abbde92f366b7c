#include "support/pulse_server.h"

#include "base/files.h"
#include "foundation/process_values.h"
#include "platform/linux/pulse_audio_backend.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak::test {

PulseServer::PulseServer() {
    const std::string program = _which("pulseaudio");
    if (!isExecutableFile(program)) {
        why_ = "pulseaudio is not installed";
        return;
    }
    char pattern[] = "/tmp/vak-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        why_ = "no temporary folder";
        return;
    }
    dir_ = pattern;
    socket_ = dir_ + "/native";
    fifo_ = dir_ + "/mic.fifo";
    const std::string config = dir_ + "/server.pa";
    // The microphone the test feeds, a built-in one that never delivers, a line input.
    std::string script =
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket_ +
        "\nload-module module-null-sink sink_name=vak_null\n";
    const std::vector<std::array<std::string, 3>> sources = {
        {"vak_pipe", fifo_, "device.description='Test Pipe Mic'"},
        {"vak_silent", dir_ + "/silent.fifo",
         "device.description='Test Builtin Mic' device.form_factor=internal"},
        {"vak_linein", dir_ + "/linein.fifo", "device.description='Test Line In' device.bus=pci"}};
    for (const auto& [name, file, properties] : sources) {
        script += "load-module module-pipe-source source_name=" + name + " file=" + file +
                  " format=s16le rate=48000 channels=1 source_properties=\"" + properties + "\"\n";
    }
    writeFileAtomic(config, script + "set-default-source vak_pipe\n", 0600);
    // The server keeps its runtime files (pid, cookies) in our folder, not the user's.
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    SpawnOptions options;
    options.argv = {program,
                    "-n",
                    "--daemonize=no",
                    "--exit-idle-time=-1",
                    "--disallow-exit",
                    "--system=false",
                    "--use-pid-file=false",
                    "-F",
                    config,
                    "--log-target=stderr"};
    std::string error;
    server_ = Subprocess::spawn(options, &error);
    if (!server_) {
        why_ = "cannot start pulseaudio: " + error;
        return;
    }
    setenv("PULSE_SERVER", serverAddress().c_str(), 1);
    PulseAudioBackend probe;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (server_->hasExited()) break;
        if (pathExists(socket_) && probe.available()) {
            // One writer for the server's whole life: a pipe source must never see its
            // writer go away between two feeds.
            fifoWriter_ = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            const int lineIn =
                ::open((dir_ + "/linein.fifo").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fifoWriter_ >= 0 && lineIn >= 0) {
                // The line input hums along in digital silence, 20 ms at a time, for good. What
                // nobody reads fills the pipe and is dropped.
                silence_ = std::thread([this, lineIn] {
                    const std::vector<std::int16_t> zeros(960, 0);
                    while (!stopping_.load()) {
                        [[maybe_unused]] const auto written =
                            ::write(lineIn, zeros.data(), zeros.size() * 2);
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    }
                    ::close(lineIn);
                });
                running_ = true;
                return;
            }
            if (lineIn >= 0) ::close(lineIn);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "pulseaudio did not come up";
}

PulseServer::~PulseServer() {
    stopping_.store(true);
    if (silence_.joinable()) silence_.join();
    if (feeder_.joinable()) feeder_.join();
    if (fifoWriter_ >= 0) ::close(fifoWriter_);
    if (server_) {
        server_->terminate();
        auto watchdog = armWatchdog(server_, 3);
        server_->wait();
        watchdog.cancel();
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void PulseServer::feed(std::vector<std::int16_t> samples) {
    if (feeder_.joinable()) feeder_.join();
    feeder_ = std::thread([fd = fifoWriter_, samples = std::move(samples)] {
        if (fd < 0) return;
        // 10 ms at a time, roughly in real time, as a microphone would deliver. A source nobody
        // records from stops reading: then the pipe fills, and what does not fit within a
        // second ends the feed instead of blocking the test.
        constexpr std::size_t kSlice = 480;
        const auto start = std::chrono::steady_clock::now();
        auto lastProgress = start;
        for (std::size_t at = 0; at < samples.size(); at += kSlice) {
            const std::size_t n = std::min(kSlice, samples.size() - at);
            std::string_view bytes(reinterpret_cast<const char*>(samples.data() + at), n * 2);
            while (!bytes.empty()) {
                const ssize_t written = ::write(fd, bytes.data(), bytes.size());
                const auto now = std::chrono::steady_clock::now();
                if (written > 0) {
                    bytes.remove_prefix(static_cast<std::size_t>(written));
                    lastProgress = now;
                } else if (now - lastProgress > std::chrono::seconds(1)) {
                    return;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds((at + n) * 1000000 / 48000));
        }
    });
}

void PulseServer::waitFed() {
    if (feeder_.joinable()) feeder_.join();
}

} // namespace vak::test
