#pragma once

#include "foundation/config.h"
#include "foundation/scratch_files.h"
#include "transcribe/model_catalog.h"
#include "transcribe/tool_report.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace vak {

struct ProcessValues;

// What decodes have learnt about the resident server, shared by every decode of the process.
struct ServerMemory {
    // It answered a request with the voice gate by failing and one without it by decoding: it
    // was started without a VAD model, so requests leave the gate out.
    std::atomic<bool> lacksVad{false};
};

class CloudReachability;

// What every decode of a process shares: what decodes learnt about the resident server, and
// whether the cloud engine answered lately. The entry makes one and hands it to each
// DecodeSettings it makes.
struct DecodeMemory {
    std::shared_ptr<ServerMemory> server;
    std::shared_ptr<CloudReachability> cloudReachability;

    static DecodeMemory fresh();
};

// The decode model of a running daemon: DECODE_MODEL's file at start, another once the user
// picks one in the settings window. Decodes read it as they start, so a switch applies from the
// next one. Any thread.
class DecodeModelChoice {
  public:
    explicit DecodeModelChoice(std::string path) : path_(std::move(path)) {}
    std::string path() const {
        std::lock_guard lock(mutex_);
        return path_;
    }
    void set(std::string path) {
        std::lock_guard lock(mutex_);
        path_ = std::move(path);
    }

  private:
    mutable std::mutex mutex_;
    std::string path_;
};

// Everything a decode reads: tool and model paths, endpoints and the settings of the
// configuration that steer it. Built from the process-wide values for each decode; tests and
// benchmarks build their own.
struct DecodeSettings {
    std::string whisperCli;     // WHISPER
    std::string parakeetServer; // PARAKEET_SERVER
    // The options that whisper-cli has, from its --help; none known: every option is passed.
    std::shared_ptr<const ToolOptions> cliOptions;
    std::string ffmpeg;   // FFMPEG
    std::string model;    // MODEL, the decode model
    std::string vadModel; // VAD_MODEL
    int threads = 0; // the decode engine's share of the cores (engineThreads); 0: the tool's own
    std::string curl = "/usr/bin/curl"; // the HTTP client of both engines
    std::string serverUrl;              // the resident local server's /inference endpoint
    std::shared_ptr<ServerMemory> server = std::make_shared<ServerMemory>();
    std::string prompt;   // vocabulary hint of every full decode
    ScratchFiles scratch; // where conditioned copies go
    Config config;        // PREPROCESS, CALL_MODE, SERVER, CLOUD, LANGUAGE, …
    // Whether the cloud engine could be reached lately, shared by every decode of the process;
    // none: always ask it.
    std::shared_ptr<CloudReachability> cloudReachability;
    // Multiplies every time limit of a decode (engine limits, race waits, watchdog graces), so
    // tests can run the real timing logic in a fraction of the time.
    double timeScale = 1.0;

    double scaled(double seconds) const { return seconds * timeScale; }

    // Local decoding is possible: the decode model and its engine's program (whisper-cli, or the
    // Parakeet server) both exist. Checked on every decode, so a model downloaded while running
    // is used at once.
    bool localAvailable() const;
    // The engine of the decode model.
    SpeechEngine engine() const;
    bool vadModelPresent() const;

    // The process's `values`: paths, the loaded configuration, VOCAB_PROMPT and the server
    // endpoint (VAK_WHISPER_SERVER_URL, else the loopback default); what the process's decodes
    // share from `memory`.
    static DecodeSettings from(const ProcessValues& values, const DecodeMemory& memory);
};

} // namespace vak
