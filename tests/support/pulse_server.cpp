#include "support/pulse_server.h"

#include "base/files.h"
#include "foundation/process_values.h"
#include "platform/linux/pulse_audio_backend.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace vak::test {

PulseServer::PulseServer() {
    const std::string program = _which("pulseaudio");
    char pattern[] = "/tmp/vak-pulse-XXXXXX";
    if (!isExecutableFile(program) || mkdtemp(pattern) == nullptr) {
        why_ = "pulseaudio is not installed, or no temporary folder";
        return;
    }
    dir_ = pattern;
    std::string script = "load-module module-native-protocol-unix auth-anonymous=1 socket=" + dir_ +
                         "/native\nload-module module-null-sink sink_name=vak_null\n";
    for (const auto& [name, properties] :
         {std::pair{"vak_pipe", "device.description='Test Pipe Mic'"},
          {"vak_silent", "device.description='Test Builtin Mic' device.form_factor=internal"},
          {"vak_linein", "device.description='Test Line In' device.bus=pci"}}) {
        script += "load-module module-pipe-source source_name=" + std::string(name) +
                  " file=" + dir_ + "/" + name +
                  " format=s16le rate=48000 channels=1 source_properties=\"" + properties + "\"\n";
    }
    writeFileAtomic(dir_ + "/server.pa", script + "set-default-source vak_pipe\n", 0600);
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
                    dir_ + "/server.pa",
                    "--log-target=stderr"};
    server_ = Subprocess::spawn(options, &why_);
    if (!server_) return;
    setenv("PULSE_SERVER", serverAddress().c_str(), 1);
    PulseAudioBackend probe;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && !server_->hasExited()) {
        if (probe.available()) {
            microphone_ = ::open((dir_ + "/vak_pipe").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            const int lineIn =
                ::open((dir_ + "/vak_linein").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (microphone_ < 0 || lineIn < 0) break;
            // The line input hums along in digital silence, 20 ms at a time; what nobody reads
            // fills the pipe and is dropped.
            silence_ = std::thread([this, lineIn] {
                const std::vector<std::int16_t> zeros(960, 0);
                while (!stopping_.load()) {
                    [[maybe_unused]] const auto n = ::write(lineIn, zeros.data(), zeros.size() * 2);
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                ::close(lineIn);
            });
            running_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "pulseaudio did not come up";
}

PulseServer::~PulseServer() {
    stopping_.store(true);
    if (silence_.joinable()) silence_.join();
    if (feeder_.joinable()) feeder_.join();
    if (microphone_ >= 0) ::close(microphone_);
    if (server_) {
        server_->terminate();
        auto watchdog = armWatchdog(server_, 3);
        server_->wait();
        watchdog.cancel();
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

void PulseServer::feed(std::vector<std::int16_t> samples) {
    waitFed();
    feeder_ = std::thread([fd = microphone_, samples = std::move(samples)] {
        // 10 ms at a time, in real time. A source nobody records from stops reading: then the
        // pipe fills, and what does not fit within a second ends the feed instead of blocking.
        constexpr std::size_t kSlice = 480;
        const auto start = std::chrono::steady_clock::now();
        auto lastProgress = start;
        for (std::size_t at = 0; fd >= 0 && at < samples.size(); at += kSlice) {
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
