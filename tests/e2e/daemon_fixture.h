#pragma once

#include "base/subprocess.h"
#include "support/pulse_server.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace vak::test {

// HOME for the daemon: one local engine (the fake whisper-cli in tools/, which answers what
// tools/transcript.txt says), no server, no captions, no chunks, the test's pipe microphone, and
// not the first dictation (no note comes to the front to take the focus).
inline void prepareDaemonHome(const std::string& home) {
    for (const char* dir : {".dictation", ".whisper-models", "tools", "scratch"})
        std::filesystem::create_directories(home + "/" + dir);
    writeFixture(home + "/.whisper-models/ggml-large-v3-turbo-q5_0.bin", "model");
    writeFixture(home + "/.dictation/.explained", "");
    std::filesystem::create_symlink(VAK_FAKE_WHISPER_CLI, home + "/tools/whisper-cli");
    writeFixture(home + "/tools/fake-whisper.conf", "mode=write\n");
    writeFixture(home + "/.dictation/config",
                 "CLOUD=0\nSERVER=0\nPREPROCESS=0\nLIVE_CAPTIONS=0\nCHUNK_SECONDS=0\n"
                 "INPUT_DEVICE=test pipe\n");
}

inline void say(const std::string& home, const std::string& transcript) {
    writeFixture(home + "/tools/transcript.txt", transcript);
}

inline std::vector<std::string> daemonEnvironment(const std::string& home,
                                                  const PulseServer& pulse) {
    return {"HOME=" + home, "VAK_TOOL_PATH=" + home + "/tools", "VAK_TMPDIR=" + home + "/scratch",
            "PULSE_SERVER=" + pulse.serverAddress(),
            "ASAN_OPTIONS=detect_leaks=0:strict_string_checks=0"};
}

// A tone at the microphone, so the recording is not silent.
inline void speak(PulseServer& pulse, double seconds = 0.5) {
    std::vector<std::int16_t> tone(static_cast<std::size_t>(seconds * 48000));
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(8000 * std::sin(M_PI * static_cast<double>(i) / 80));
    pulse.feed(tone);
    pulse.waitFed();
}

inline std::string daemonLog(const std::string& home) {
    return readFixture(home + "/.dictation/vak.log");
}
inline bool waitForDaemonLog(const std::string& home, const std::string& line,
                             double seconds = 20) {
    return waitUntil([&] { return daemonLog(home).find(line) != std::string::npos; }, seconds);
}

inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// What a program in a terminal receives from a paste.
inline std::string bracketed(const std::string& text) {
    return "\x1b[200~" + text + "\x1b[201~";
}

} // namespace vak::test
