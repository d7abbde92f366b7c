#pragma once

#include "base/subprocess.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vak::test {

// A private PulseAudio server for tests: a null sink, two pipe sources, "vak_pipe" (48 kHz
// mono 16-bit, fed by the test through feed()) and "vak_silent" (marked as the built-in
// microphone, never fed, so it never delivers), and "vak_linein" on the "pci" bus, fed digital
// silence without end, like a sound card's unplugged line input (silent, yet flowing). Nothing
// of the real user's sound setup is used: the server listens on a socket in a temporary folder and
// PULSE_SERVER points there.
class PulseServer {
  public:
    PulseServer();
    ~PulseServer();

    // False (with the reason in why()) when no server could be started on this machine.
    bool running() const { return running_; }
    const std::string& why() const { return why_; }
    // The PULSE_SERVER value of this server, for child processes.
    std::string serverAddress() const { return "unix:" + socket_; }

    // Writes 48 kHz mono 16-bit samples into the pipe source at the pace of a real microphone,
    // on a thread of its own; returns at once.
    void feed(std::vector<std::int16_t> samples);
    // Waits until everything handed to feed() has been written.
    void waitFed();

  private:
    std::string dir_;
    std::string socket_;
    std::string fifo_;
    std::shared_ptr<Subprocess> server_;
    bool running_ = false;
    std::string why_;
    std::thread feeder_;
    int fifoWriter_ = -1;
    std::thread silence_; // feeds the line input
    std::atomic<bool> stopping_{false};
};

} // namespace vak::test
