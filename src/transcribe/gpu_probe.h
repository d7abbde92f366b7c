#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// Whether this machine has a GPU whisper.cpp can use: a Vulkan device (vulkaninfo lists one that
// is not a CPU rasteriser such as llvmpipe) or an NVIDIA GPU (nvidia-smi lists one), and the
// tools to build whisper.cpp for it (glslc and the Vulkan headers; nvcc). Every look is a child
// process with an argument list under a time limit and a watchdog: a wedged driver costs seconds,
// never the start.

// The programs and folders the probe looks at; tests give their own.
struct GpuProbeTools {
    std::string vulkaninfo; // its path; a missing file: not looked at
    std::string nvidiaSmi;
    std::string glslc;
    std::string nvcc;
    std::vector<std::string> includeDirs; // where vulkan/vulkan.h may be
    double limitSeconds = 8;              // per probe

    // This machine's: the tools by the usual look-up (nvcc also in /usr/local/cuda/bin).
    static GpuProbeTools fromProcess();
};

enum class GpuBackend { Vulkan, Cuda };

struct GpuFinding {
    std::optional<std::string> vulkanDevice; // the first Vulkan GPU's name
    std::optional<std::string> cudaDevice;   // the first NVIDIA GPU's name
    bool vulkanBuildable = false;            // glslc and vulkan/vulkan.h are there
    bool cudaBuildable = false;              // nvcc is there
    std::string notes; // what each look found or why it found nothing, for the log

    // The back-end a build should use: a device whose build tools are there, CUDA first (it is
    // the faster of the two on NVIDIA hardware).
    std::optional<GpuBackend> usable() const;
};

// Looks with `tools`. Blocks for at most a few time limits; off the main thread.
GpuFinding probeGpu(const GpuProbeTools& tools);

// The first non-CPU device of `vulkaninfo --summary`'s output.
std::optional<std::string> vulkanGpuOf(std::string_view summary);
// The first GPU of `nvidia-smi --query-gpu=name --format=csv,noheader`'s output.
std::optional<std::string> nvidiaGpuOf(std::string_view listing);

// The whisper.cpp CMake option that builds for `backend`.
std::string_view gpuBuildOption(GpuBackend backend);
std::string_view gpuBackendName(GpuBackend backend);

} // namespace vak
