#include "base/files.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "transcribe/gpu_probe.h"
#include "transcribe/model_catalog.h"
#include "transcribe/model_download.h"

#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Outcome = DownloadResult::Outcome;
using test::writeFixture;

// What is not the model is removed and the reason given (a wrong checksum, an unreachable host
// and resuming: setup_engine_test); a cancelled download stops at once and keeps what arrived.
TEST(ModelDownload, OnlyTheModelIsPutInPlace) {
    test::ModelHost host(-1, 200000);
    test::TempDir models;
    const std::string target = models.file("ggml-tiny.en.bin");
    // A page in place of the model, and a model the host does not have.
    struct Case {
        const char* magic;
        const char* file;
        Outcome outcome;
        const char* detailStart;
    };
    const Case cases[] = {
        {"<htm", "ggml-tiny.en.bin", Outcome::Mismatch, "not a model file"},
        {"lmgg", "ggml-other.bin", Outcome::Refused, "HTTP 404"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detailStart);
        const auto sha1 = host.publish(c.file, 5000, c.magic);
        const auto got = downloadFile(host.url() + "/ggml-tiny.en.bin", target, {sha1, ""}, {});
        removeFile(host.dir() + "/" + c.file);
        EXPECT_EQ(got.outcome, c.outcome);
        EXPECT_EQ(got.detail.rfind(c.detailStart, 0), 0u) << got.detail;
        EXPECT_FALSE(pathExists(target));
        EXPECT_FALSE(pathExists(target + ".part"));
    }
    EXPECT_FALSE(findModel("../etc")); // a model's name is never a path

    const auto sha1 = host.publish("ggml-tiny.en.bin", 2000000);
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> seenBytes{0};
    const auto start = std::chrono::steady_clock::now();
    const auto onProgress = [&](const DownloadProgress& p) {
        seenBytes = p.bytes;
        cancel = p.bytes > 100000;
    };
    const auto got =
        downloadFile(host.url() + "/ggml-tiny.en.bin", target, {sha1, ""}, onProgress, &cancel);
    EXPECT_EQ(got.outcome, Outcome::Cancelled) << got.detail;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(pathExists(target));
    const auto kept = fileSize(target + ".part").value_or(0);
    EXPECT_GE(kept, seenBytes.load());
    EXPECT_LT(kept, 2000000);
}

// A device counts only when a driver lists a GPU.
TEST(GpuProbe, AGpuIsWhatADriverListsAndNotACpuRasteriser) {
    const std::string radeon = "GPU1:\n\tdeviceType         = "
                               "PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU\n\tdeviceName         = AMD "
                               "Radeon Graphics (RADV RENOIR)\n";
    const std::string llvmpipe = "GPU0:\n\tdeviceType = PHYSICAL_DEVICE_TYPE_CPU\n\tdeviceName = "
                                 "llvmpipe (LLVM 15.0.6, 256 bits)\n";
    EXPECT_EQ(vulkanGpuOf("Devices:\n" + llvmpipe + radeon), "AMD Radeon Graphics (RADV RENOIR)");
    EXPECT_EQ(vulkanGpuOf("Devices:\n" + llvmpipe), std::nullopt);
    EXPECT_EQ(nvidiaGpuOf("NVIDIA GeForce RTX 4090\nNVIDIA A100\n"), "NVIDIA GeForce RTX 4090");

    // A wedged driver costs the probe its time limit, not the start.
    test::TempDir dir;
    GpuProbeTools tools;
    tools.vulkaninfo = dir.file("vulkaninfo");
    writeFixture(tools.vulkaninfo, "#!/bin/sh\nexec sleep 30\n");
    setPermissions(tools.vulkaninfo, 0755);
    tools.limitSeconds = 0.5;
    const auto start = std::chrono::steady_clock::now();
    const auto found = probeGpu(tools);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(found.notes.find("Vulkan: no GPU (no answer within 0.5 s, stopped)"),
              std::string::npos)
        << found.notes;
}

} // namespace
} // namespace vak
