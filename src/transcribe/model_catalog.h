#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vak {

// The engine that decodes with a model: whisper.cpp's whisper tools, or the resident Parakeet
// server built from the same source.
enum class SpeechEngine { Whisper, Parakeet };

// The models the engine set-up can download: whisper.cpp's published decode models, the
// Parakeet TDT models and the silero voice-activity models, with the checksums their publisher
// gives.
struct ModelInfo {
    std::string_view name;   // "base.en": the file is ggml-NAME.bin
    std::string_view sha1;   // the published SHA-1; empty when none is published
    std::string_view sha256; // the model host's SHA-256, for a model with no published SHA-1
    std::int64_t mebibytes;  // about how big it is, for the settings window
    bool voiceActivity;      // a silero model (another folder of the host)
    SpeechEngine engine = SpeechEngine::Whisper;
    std::string_view hostFile = {}; // its name on the host when not ggml-NAME.bin
};

std::span<const ModelInfo> modelCatalog();
std::optional<ModelInfo> findModel(std::string_view name);

// The engine of a model file: Parakeet for the names whisper.cpp gives Parakeet models
// (ggml-parakeet-….bin), whether the catalog knows them or not; whisper for every other.
SpeechEngine engineOfModel(std::string_view path);
std::string_view engineName(SpeechEngine engine);

// Whether Parakeet TDT v3 knows the LANGUAGE value: its 25 European languages, and "auto" (it
// detects which of them it hears).
bool parakeetKnowsLanguage(std::string_view language);

// The decode model for a machine that has none yet, and why.
struct DecodeModelPick {
    std::string name;
    std::string reason;
};
// Whether the GPU the engine is built for is there: the build stamp of the engine folder (its
// CMake options, one a line) names a GPU back-end and the probe found a device of it (Metal is
// always there on a Mac). Says which in `why`.
struct GpuFinding;
bool engineUsesGpu(std::string_view buildStamp, const GpuFinding& finding, std::string* why);

// Whether the configuration leaves the decode model to the program: it names the built-in
// default and that model is not installed (a first set-up or start). A model the user named, or
// the default one installed, stays.
bool decodeModelLeftToChoose(std::string_view configured, std::string_view modelFile);

// With a GPU back-end whisper's turbo model (a GPU pays little for whisper's 30-second window);
// on a CPU Parakeet v3 for its languages (its cost follows the clip), else a small multilingual
// whisper model.
DecodeModelPick pickDecodeModel(bool gpu, std::string_view language);

// NAME of a path ".../ggml-NAME.bin"; nothing for any other file name.
std::optional<std::string> modelNameOfFile(std::string_view path);

// Where the model is downloaded from: $VAK_MODEL_BASE_URL + "/" + its file on the host when it
// is set (a mirror, tests), else the publisher's address.
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
