#pragma once

#include "base/subprocess.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vak::test {

// A private PulseAudio server for tests, on a socket in a temporary folder that PULSE_SERVER
// points at (nothing of the user's sound setup is used): a null sink and three pipe sources at
// 48 kHz mono 16-bit. "vak_pipe" (the default, "Test Pipe Mic") is fed by the test through
// feed(); "vak_silent" ("Test Builtin Mic", the built-in microphone) is never fed, so it never
// delivers; "vak_linein" ("Test Line In", on the "pci" bus) is fed digital silence without end,
// like a sound card's unplugged line input.
class PulseServer {
  public:
    PulseServer();
    ~PulseServer();

    // False (with the reason in why()) when no server could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }
    // The PULSE_SERVER value, for child processes.
    std::string serverAddress() const { return "unix:" + dir_ + "/native"; }

    // Writes samples into "vak_pipe" at a microphone's pace, on a thread; waitFed() waits for it.
    void feed(std::vector<std::int16_t> samples);
    void waitFed();

  private:
    std::string dir_;
    std::shared_ptr<Subprocess> server_;
    bool running_ = false;
    std::string why_;
    int microphone_ = -1; // open for good: a pipe source must not lose its writer between feeds
    std::thread feeder_;
    std::thread silence_;
    std::atomic<bool> stopping_{false};
};

} // namespace vak::test
