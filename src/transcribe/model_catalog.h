#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vak {

// The models the engine set-up can download: whisper.cpp's published decode models and the
// silero voice-activity models, with the checksums their publisher gives.
struct ModelInfo {
    std::string_view name;   // "base.en": the file is ggml-NAME.bin
    std::string_view sha1;   // the published SHA-1; empty when none is published
    std::string_view sha256; // the model host's SHA-256, for a model with no published SHA-1
    std::int64_t mebibytes;  // about how big it is, for the settings window
    bool voiceActivity;      // a silero model (another folder of the host)
};

std::span<const ModelInfo> modelCatalog();
std::optional<ModelInfo> findModel(std::string_view name);

// NAME of a path ".../ggml-NAME.bin"; nothing for any other file name.
std::optional<std::string> modelNameOfFile(std::string_view path);

// Where the model is downloaded from: $VAK_MODEL_BASE_URL + "/ggml-NAME.bin" when it is set (a
// mirror, tests), else the publisher's address.
std::string modelUrl(const ModelInfo& model);

// What a downloaded file must be.
struct ExpectedFile {
    std::string sha1;   // lower-case hex; empty: not checked
    std::string sha256; // likewise
};
// The catalog's checksums, unless the sha1sum-format file $VAK_MODEL_SHA1SUMS names the model's
// file ("<sha1>  ggml-NAME.bin"): a mirror serving other builds of a model, or a test.
ExpectedFile expectedFile(const ModelInfo& model);

} // namespace vak
