#pragma once

#include "transcribe/model_download.h"
#include "transcribe/model_speed.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vak {

// A decode model the settings window offers.
struct DecodeModelOption {
    std::string name;
    std::optional<std::int64_t> mebibytes; // none: a model the catalog does not know
    bool installed = false;                // its file is in ~/.whisper-models
    SpeechEngine engine = SpeechEngine::Whisper;
    std::optional<ModelSpeed> speed; // as measured on this machine; none: not measured
};

// Every decode model of the catalog (not the voice-activity ones), in the catalog's order, and
// the configured one after them when the catalog does not know it; installed or not in the
// models folder of the home folder `home`, with the speeds the file `speedsFile` holds.
std::vector<DecodeModelOption> decodeModelOptions(std::string_view home,
                                                  std::string_view configured,
                                                  const std::string& speedsFile);

// One line on how a model download ended, for a person looking at the window.
std::string downloadOutcomeText(std::string_view name, const DownloadResult& result);

// Downloads decode models into the models folder of the home folder `home` for a window that
// must not wait: one at a time, on a thread of its own, checked and put in place as the engine
// set-up does. Main thread only; the callbacks come from the download's threads.
class ModelInstaller {
  public:
    using Progress = std::function<void(const DownloadProgress& progress)>;
    using Done = std::function<void(const DownloadResult& result)>;

    explicit ModelInstaller(std::string home);
    ~ModelInstaller(); // stops a download still running and waits for it
    ModelInstaller(const ModelInstaller&) = delete;
    ModelInstaller& operator=(const ModelInstaller&) = delete;

    // Starts downloading the catalog model `name`, after stopping one still running. False for
    // a name the catalog does not know (nothing starts). `done` is called exactly once.
    bool start(const std::string& name, Progress progress, Done done);
    // Stops the download; its partial file stays for the next start to resume. `done` follows.
    void cancel();
    // The model being downloaded; none when idle.
    std::optional<std::string> downloading() const;

  private:
    void join();

    const std::string home_;
    std::thread worker_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    mutable std::mutex mutex_;
    std::optional<std::string> current_;
};

} // namespace vak
