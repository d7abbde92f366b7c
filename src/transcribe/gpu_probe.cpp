#include "transcribe/gpu_probe.h"

#include "base/files.h"
#include "base/numbers.h"
#include "base/subprocess.h"
#include "foundation/process_values.h"

namespace vak {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

template <typename Line>
void forEachLine(std::string_view text, Line&& line) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        line(trimmed(text.substr(0, end)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// "key = value" → value, when the line's key is `key`.
std::optional<std::string_view> valueOf(std::string_view line, std::string_view key) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || trimmed(line.substr(0, eq)) != key) return std::nullopt;
    return trimmed(line.substr(eq + 1));
}

struct Look {
    std::optional<std::string> output; // standard output of a run that ended with status 0
    std::string problem;               // otherwise why not
};

Look look(const std::string& program, std::vector<std::string> argv, double limitSeconds) {
    if (!isExecutableFile(program)) return {std::nullopt, "not installed"};
    argv.insert(argv.begin(), program);
    RunOptions run;
    run.timeoutSeconds = limitSeconds;
    run.killGraceSeconds = 1;
    run.maxOutputBytes = 256 * 1024;
    std::string error;
    const auto result = runProcess(argv, run, &error);
    if (!result) return {std::nullopt, "could not start: " + error};
    if (result->timedOut)
        return {std::nullopt, "no answer within " +
                                  fixedDecimals(limitSeconds, limitSeconds < 1 ? 1 : 0) +
                                  " s, stopped"};
    if (!result->status.success())
        return {std::nullopt,
                result->status.signaled()
                    ? "ended by signal " + std::to_string(result->status.code)
                    : "status " + std::to_string(result->status.code) + ": no driver answers"};
    return {result->output, {}};
}

} // namespace

GpuProbeTools GpuProbeTools::fromProcess() {
    GpuProbeTools tools;
    tools.vulkaninfo = _which("vulkaninfo");
    tools.nvidiaSmi = _which("nvidia-smi");
    tools.glslc = _which("glslc");
    tools.nvcc = _which("nvcc", "/usr/local/cuda/bin");
    tools.includeDirs = {"/usr/include", "/usr/local/include", "/opt/homebrew/include"};
    return tools;
}

std::optional<GpuBackend> GpuFinding::usable() const {
    if (cudaDevice && cudaBuildable) return GpuBackend::Cuda;
    if (vulkanDevice && vulkanBuildable) return GpuBackend::Vulkan;
    return std::nullopt;
}

std::optional<std::string> vulkanGpuOf(std::string_view summary) {
    // Each device is a block of "key = value" lines; a CPU rasteriser (llvmpipe, SwiftShader)
    // says PHYSICAL_DEVICE_TYPE_CPU and is no faster than the CPU engines.
    std::optional<std::string> found;
    std::string type;
    std::string name;
    const auto settle = [&] {
        if (!found && !name.empty() &&
            (type.ends_with("_GPU") || type == "PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU"))
            found = name;
        type.clear();
        name.clear();
    };
    forEachLine(summary, [&](std::string_view line) {
        if (line.starts_with("GPU") && line.ends_with(":")) settle();
        if (const auto value = valueOf(line, "deviceType")) type = *value;
        if (const auto value = valueOf(line, "deviceName")) name = *value;
    });
    settle();
    return found;
}

std::optional<std::string> nvidiaGpuOf(std::string_view listing) {
    std::optional<std::string> found;
    forEachLine(listing, [&](std::string_view line) {
        if (!found && !line.empty() && line.find("NVIDIA-SMI") == std::string_view::npos &&
            !line.starts_with("No devices"))
            found = std::string(line);
    });
    return found;
}

GpuFinding probeGpu(const GpuProbeTools& tools) {
    GpuFinding finding;
    const auto vulkan = look(tools.vulkaninfo, {"--summary"}, tools.limitSeconds);
    if (vulkan.output) finding.vulkanDevice = vulkanGpuOf(*vulkan.output);
    bool headers = false;
    for (const auto& dir : tools.includeDirs)
        headers = headers || isRegularFile(dir + "/vulkan/vulkan.h");
    finding.vulkanBuildable = isExecutableFile(tools.glslc) && headers;

    const auto nvidia =
        look(tools.nvidiaSmi, {"--query-gpu=name", "--format=csv,noheader"}, tools.limitSeconds);
    if (nvidia.output) finding.cudaDevice = nvidiaGpuOf(*nvidia.output);
    finding.cudaBuildable = isExecutableFile(tools.nvcc);

    const auto device = [](const std::optional<std::string>& name, const Look& result) {
        if (name) return *name;
        return "no GPU" +
               (result.problem.empty() ? std::string(" listed") : " (" + result.problem + ")");
    };
    finding.notes = "Vulkan: " + device(finding.vulkanDevice, vulkan) + ", build tools " +
                    (finding.vulkanBuildable ? "there" : "missing (glslc, vulkan/vulkan.h)") +
                    " · CUDA: " + device(finding.cudaDevice, nvidia) + ", nvcc " +
                    (finding.cudaBuildable ? "there" : "missing");
    return finding;
}

std::string_view gpuBuildOption(GpuBackend backend) {
    return backend == GpuBackend::Cuda ? "-DGGML_CUDA=ON" : "-DGGML_VULKAN=ON";
}

std::string_view gpuBackendName(GpuBackend backend) {
    return backend == GpuBackend::Cuda ? "CUDA" : "Vulkan";
}

} // namespace vak
