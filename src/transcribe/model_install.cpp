#include "transcribe/model_install.h"

#include "base/files.h"
#include "foundation/process_values.h"
#include "transcribe/model_catalog.h"

namespace vak {

std::vector<DecodeModelOption> decodeModelOptions(std::string_view home,
                                                  std::string_view configured,
                                                  const std::string& speedsFile) {
    const auto speeds = loadModelSpeeds(speedsFile);
    const auto speedOf = [&speeds](std::string_view name) -> std::optional<ModelSpeed> {
        const auto found = speeds.find(name);
        return found == speeds.end() ? std::nullopt : std::optional(found->second);
    };
    std::vector<DecodeModelOption> options;
    bool listed = false;
    for (const ModelInfo& model : modelCatalog()) {
        if (model.voiceActivity) continue;
        listed = listed || model.name == configured;
        options.push_back({std::string(model.name), model.mebibytes,
                           isRegularFile(modelPath(home, model.name)), model.engine,
                           speedOf(model.name)});
    }
    if (!listed && !configured.empty()) {
        const std::string path = modelPath(home, configured);
        options.push_back({std::string(configured), std::nullopt, isRegularFile(path),
                           engineOfModel(path), speedOf(configured)});
    }
    return options;
}

std::string downloadOutcomeText(std::string_view name, const DownloadResult& result) {
    using Outcome = DownloadResult::Outcome;
    const std::string model(name);
    const std::string why = result.detail.empty() ? "" : " (" + result.detail + ")";
    switch (result.outcome) {
    case Outcome::Done:
        return model + " downloaded" + (result.resumed ? " (resumed)" : "") + ".";
    case Outcome::Unreachable:
        return "Cannot reach the model host" + why +
               ". Offline? Pick it again later: what arrived is kept.";
    case Outcome::Refused:
        return "The model host has no " + model + why + ".";
    case Outcome::Interrupted:
        return "The download of " + model + " broke off" + why + ". Pick it again to resume.";
    case Outcome::Mismatch:
        return "The download of " + model + " is not the published file" + why +
               ". It was removed.";
    case Outcome::Cancelled:
        return "The download of " + model + " stopped; pick it again to resume.";
    case Outcome::Failed:
        break;
    }
    return "Cannot download " + model + why + ".";
}

ModelInstaller::ModelInstaller(std::string home) : home_(std::move(home)) {}

ModelInstaller::~ModelInstaller() {
    cancel();
    join();
}

bool ModelInstaller::start(const std::string& name, Progress progress, Done done) {
    const auto model = findModel(name);
    if (!model || model->voiceActivity) return false;
    cancel();
    join();
    makeDirectories(modelsDirectory(home_), 0755);
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        current_ = name;
    }
    worker_ = std::thread([this, url = modelUrl(*model), path = modelPath(home_, name),
                           expected = expectedFile(*model), cancel = cancel_,
                           progress = std::move(progress), done = std::move(done)] {
        const DownloadResult result = downloadFile(url, path, expected, progress, cancel.get());
        {
            std::lock_guard lock(mutex_);
            current_.reset();
        }
        if (done) done(result);
    });
    return true;
}

void ModelInstaller::cancel() {
    if (cancel_) cancel_->store(true);
}

std::optional<std::string> ModelInstaller::downloading() const {
    std::lock_guard lock(mutex_);
    return current_;
}

void ModelInstaller::join() {
    if (worker_.joinable()) worker_.join();
}

} // namespace vak
