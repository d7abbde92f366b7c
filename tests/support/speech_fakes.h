#pragma once

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <sys/types.h>

namespace vak {
class Subprocess;
}

namespace vak::test {

struct FakeWhisperCall {
    pid_t pid = 0;
    long long startMs = 0;         // wall clock, ms since the epoch
    std::vector<std::string> args; // without the program path
};

// A tool folder holding "whisper-cli", a link to the fake, with its control files beside it.
class FakeWhisper {
  public:
    FakeWhisper();
    const std::string& dir() const { return dir_.path(); }
    std::string path() const { return dir_.file("whisper-cli"); }

    void setTranscript(const std::string& text) const;
    // Lines for fake-whisper.conf, e.g. "mode=hang" or "delay=0.5".
    void setControl(const std::string& lines) const;
    std::vector<FakeWhisperCall> calls() const;

  private:
    TempDir dir_;
};

// A stand-in server on an ephemeral loopback port it announces, stopped with the object.
class LoopbackServer {
  public:
    LoopbackServer() = default;
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    pid_t pid() const;
    std::string url(std::string_view path = "") const;

  protected:
    void start(const std::vector<std::string>& argv);

  private:
    std::shared_ptr<Subprocess> process_;
    int port_ = 0;
};

// The fake speech server.
class FakeSpeechServer : public LoopbackServer {
  public:
    FakeSpeechServer();
    // How "inference" or "transcribe" answers from now on.
    void answer(const std::string& route, const std::string& body, double delaySeconds = 0,
                int status = 200) const;
    // Makes "route" stream bytes that are no answer for `seconds` (until answer() again).
    void streamGarbage(const std::string& route, double seconds) const;
    std::vector<nlohmann::json> requests() const;

  private:
    TempDir dir_;
};

// The model download site's stand-in (tools/model_host.cpp) serving the files of dir(). With
// `cutAfterBytes` the first download breaks off after that many bytes; with `bytesPerSecond`
// every download is that slow.
class ModelHost : public LoopbackServer {
  public:
    explicit ModelHost(long long cutAfterBytes = -1, long long bytesPerSecond = 0);
    const std::string& dir() const { return dir_.path(); }
    // "METHOD PATH RANGE" per request so far.
    std::vector<std::string> requests() const;
    // Puts a model-shaped file of `bytes` (the ggml header, then bytes that do not repeat)
    // there as `name`; its SHA-1.
    std::string publish(const std::string& name, std::size_t bytes,
                        const char* magic = "lmgg") const;

  private:
    TempDir dir_;
    TempDir logDir_;
};

// A loopback URL on which nothing listens.
std::string deadUrl(std::string_view path);

// A 16 kHz mono WAV of `seconds` of a 440 Hz tone.
std::string toneWav(double seconds);

// Live child processes of this process.
std::vector<pid_t> childProcesses();

// An argument list as one line: arguments joined by blanks, those holding a blank in single
// quotes. Exact, and far easier to read in a test than a column of strings.
std::string commandLine(const std::vector<std::string>& args);

// The pieces of `text` between `separator`s (an empty last piece dropped); the fakes' record
// files are read with these.
std::vector<std::string> splitText(const std::string& text, char separator);
// One JSON value per non-empty line; nothing when the file does not exist.
std::vector<nlohmann::json> readJsonLines(const std::string& path);

} // namespace vak::test
