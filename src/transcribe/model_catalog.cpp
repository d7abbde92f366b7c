#include "transcribe/model_catalog.h"

#include "base/environment.h"
#include "base/files.h"
#include "foundation/config.h"
#include "foundation/languages.h"
#include "transcribe/gpu_probe.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace vak {

namespace {

// SHA-1s from whisper.cpp's models/README.md. base.en-q5_1 has none there; its SHA-256 is the
// one the model host lists for the file. The silero models have no published checksum at all:
// they are checked for their size and their file format only, and so are the Parakeet models,
// which ggml-org publishes as ggml-parakeet-…-f16.bin (v3: 25 European languages; v2: English).
constexpr auto kParakeet = SpeechEngine::Parakeet;
constexpr std::array<ModelInfo, 22> kModels = {{
    {"tiny", "bd577a113a864445d4c299885e0cb97d4ba92b5f", "", 75, false},
    {"tiny.en", "c78c86eb1a8faa21b369bcd33207cc90d64ae9df", "", 75, false},
    {"base", "465707469ff3a37a2b9b8d8f89f2f99de7299dac", "", 142, false},
    {"base.en", "137c40403d78fd54d454da0f9bd998f78703390c", "", 142, false},
    {"base.en-q5_1", "", "4baf70dd0d7c4247ba2b81fafd9c01005ac77c2f9ef064e00dcf195d0e2fdd2f", 57,
     false},
    {"small", "55356645c2b361a969dfd0ef2c5a50d530afd8d5", "", 466, false},
    {"small.en", "db8a495a91d927739e50b3fc1cc4c6b8f6c2d022", "", 466, false},
    {"medium", "fd9727b6e1217c2f614f9b698455c4ffd82463b4", "", 1536, false},
    {"medium.en", "8c30f0e44ce9560643ebd10bbe50cd20eafd3723", "", 1536, false},
    {"large-v1", "b1caaf735c4cc1429223d5a74f0f4d0b9b59a299", "", 2970, false},
    {"large-v2", "0f4c8e34f21cf1a914c59d8b3ce882345ad349d6", "", 2970, false},
    {"large-v2-q5_0", "00e39f2196344e901b3a2bd5814807a769bd1630", "", 1126, false},
    {"large-v3", "ad82bf6a9043ceed055076d0fd39f5f186ff8062", "", 2970, false},
    {"large-v3-q5_0", "e6e2ed78495d403bef4b7cff42ef4aaadcfea8de", "", 1126, false},
    {"large-v3-turbo", "4af2b29d7ec73d781377bfd1758ca957a807e941", "", 1536, false},
    {"large-v3-turbo-q5_0", "e050f7970618a659205450ad97eb95a18d69c9ee", "", 547, false},
    {"small.en-tdrz", "b6c6e7e89af1a35c08e6de56b66ca6a02a2fdfa1", "", 465, false},
    {"parakeet-tdt-0.6b-v3", "", "", 1200, false, kParakeet, "ggml-parakeet-tdt-0.6b-v3-f16.bin"},
    {"parakeet-tdt-0.6b-v3-q8_0", "", "", 650, false, kParakeet,
     "ggml-parakeet-tdt-0.6b-v3-q8_0.bin"},
    {"parakeet-tdt-0.6b-v2", "", "", 1200, false, kParakeet, "ggml-parakeet-tdt-0.6b-v2-f16.bin"},
    {"silero-v5.1.2", "", "", 1, true},
    {"silero-v6.2.0", "", "", 1, true},
}};

} // namespace

std::span<const ModelInfo> modelCatalog() {
    return kModels;
}

std::optional<ModelInfo> findModel(std::string_view name) {
    for (const auto& model : kModels) {
        if (model.name == name) return model;
    }
    return std::nullopt;
}

bool parakeetKnowsLanguage(std::string_view language) {
    return std::any_of(kLanguages.begin(), kLanguages.end(), [language](const Language& known) {
        return known.parakeet && known.code == language;
    });
}

bool engineUsesGpu(std::string_view buildStamp, const GpuFinding& finding, std::string* why) {
    const std::string stamp = "\n" + std::string(buildStamp) + "\n";
    const auto built = [&](std::string_view option) {
        return stamp.find("\n" + std::string(option) + "\n") != std::string::npos;
    };
    const auto say = [why](std::string text) {
        if (why) *why = std::move(text);
    };
    if (built("-DGGML_METAL=ON")) {
        say("the engine is built for Metal");
        return true;
    }
    for (const auto backend : {GpuBackend::Cuda, GpuBackend::Vulkan}) {
        const auto& device =
            backend == GpuBackend::Cuda ? finding.cudaDevice : finding.vulkanDevice;
        if (built(gpuBuildOption(backend)) && device) {
            say("the engine is built for " + std::string(gpuBackendName(backend)) + " and " +
                *device + " is there");
            return true;
        }
    }
    const auto& device = finding.cudaDevice ? finding.cudaDevice : finding.vulkanDevice;
    say(device ? *device + " is there, but the engine is built for the CPU" : "no GPU found");
    return false;
}

bool decodeModelLeftToChoose(std::string_view configured, std::string_view modelFile) {
    std::string_view byDefault;
    for (const auto& key : configKeys())
        if (key.key == "DECODE_MODEL") byDefault = key.defaultText;
    return configured == byDefault && !isRegularFile(std::string(modelFile));
}

DecodeModelPick pickDecodeModel(bool gpu, std::string_view language) {
    if (gpu)
        return {"large-v3-turbo-q5_0",
                "on a GPU whisper's 30-second window is cheap, and turbo is its best model"};
    if (parakeetKnowsLanguage(language))
        return {"parakeet-tdt-0.6b-v3",
                "on a CPU Parakeet's cost follows the clip, where whisper pays for 30 s "
                "whatever the clip, and LANGUAGE=" +
                    std::string(language) + " is one of its languages"};
    return {"base", "Parakeet does not know LANGUAGE=" + std::string(language) +
                        ": whisper's small multilingual model keeps a CPU's wait short"};
}

SpeechEngine engineOfModel(std::string_view path) {
    const auto name = modelNameOfFile(path);
    return name && name->starts_with("parakeet") ? SpeechEngine::Parakeet : SpeechEngine::Whisper;
}

std::string_view engineName(SpeechEngine engine) {
    return engine == SpeechEngine::Parakeet ? "Parakeet" : "whisper";
}

std::optional<std::string> modelNameOfFile(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (!file.starts_with("ggml-") || !file.ends_with(".bin") || file.size() <= 9)
        return std::nullopt;
    return std::string(file.substr(5, file.size() - 9));
}

std::string modelUrl(const ModelInfo& model) {
    const std::string file =
        "/" + (model.hostFile.empty() ? "ggml-" + std::string(model.name) + ".bin"
                                      : std::string(model.hostFile));
    std::string base = envValueOr(Env::ModelBaseUrl, "");
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    if (!base.empty()) return base + file;
    if (model.name == "small.en-tdrz")
        return "https://huggingface.co/akashmjn/tinydiarize-whisper.cpp/resolve/main" + file;
    if (model.voiceActivity)
        return "https://huggingface.co/ggml-org/whisper-vad/resolve/main" + file;
    if (model.engine == SpeechEngine::Parakeet)
        return "https://huggingface.co/ggml-org/parakeet-GGUF/resolve/main" + file;
    return "https://huggingface.co/ggerganov/whisper.cpp/resolve/main" + file;
}

ExpectedFile expectedFile(const ModelInfo& model) {
    ExpectedFile expected{std::string(model.sha1), std::string(model.sha256)};
    const std::string list = envValueOr(Env::ModelSha1Sums, "");
    if (list.empty()) return expected;
    const std::string file = "ggml-" + std::string(model.name) + ".bin";
    const std::string text = readTextFile(list).value_or("");
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const auto blank = line.find(' ');
        if (blank == 40 && line.size() > blank && line.substr(line.find_last_of(" *") + 1) == file)
            return {line.substr(0, 40), ""};
        start = end + 1;
    }
    return expected;
}

} // namespace vak
