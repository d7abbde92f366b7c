#include "base/file_digest.h"
#include "base/files.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "transcribe/gpu_probe.h"
#include "transcribe/model_catalog.h"
#include "transcribe/model_download.h"
#include "transcribe/model_install.h"
#include "transcribe/model_speed.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Outcome = DownloadResult::Outcome;
using test::writeFixture;

class ModelDownload : public testing::Test {
  protected:
    void publish(test::ModelHost& host, const std::string& name, std::size_t bytes,
                 const char* magic = "lmgg") {
        sha1 = host.publish(name, bytes, magic);
    }

    test::TempDir models;
    std::string target = models.file("ggml-tiny.en.bin");
    std::string sha1;
};

TEST_F(ModelDownload, WhatIsNotTheModelIsRemovedAndTheReasonGiven) {
    test::ModelHost host;
    struct Case {
        const char* magic;
        bool wrongSha1;
        const char* file;
        Outcome outcome;
        const char* detailStart;
    };
    const Case cases[] = {
        {"lmgg", true, "ggml-tiny.en.bin", Outcome::Mismatch, "SHA-1 "},
        {"<htm", false, "ggml-tiny.en.bin", Outcome::Mismatch, "not a model file"},
        {"lmgg", false, "ggml-other.bin", Outcome::Refused, "HTTP 404"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detailStart);
        publish(host, c.file, 5000, c.magic);
        const std::string want = c.wrongSha1 ? std::string(40, '0') : sha1;
        const auto got = downloadFile(host.url() + "/ggml-tiny.en.bin", target, {want, ""}, {});
        removeFile(host.dir() + "/" + c.file);
        EXPECT_EQ(got.outcome, c.outcome);
        EXPECT_EQ(got.detail.rfind(c.detailStart, 0), 0u) << got.detail;
        EXPECT_FALSE(pathExists(target));
        EXPECT_FALSE(pathExists(target + ".part"));
    }
    const auto offline = downloadFile(test::deadUrl("/ggml-tiny.en.bin"), target, {}, {});
    EXPECT_EQ(offline.outcome, Outcome::Unreachable);
    EXPECT_NE(offline.detail.find("onnect"), std::string::npos) << offline.detail;
}

TEST_F(ModelDownload, ACancelledDownloadStopsAtOnceAndKeepsWhatArrived) {
    test::ModelHost host(-1, 200000);
    publish(host, "ggml-tiny.en.bin", 2000000);
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> seenBytes{0};
    const auto start = std::chrono::steady_clock::now();
    const auto got = downloadFile(
        host.url() + "/ggml-tiny.en.bin", target, {sha1, ""},
        [&](const DownloadProgress& p) {
            seenBytes = p.bytes;
            if (p.bytes > 100000) cancel = true;
        },
        &cancel);
    EXPECT_EQ(got.outcome, Outcome::Cancelled) << got.detail;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(pathExists(target));
    const auto kept = fileSize(target + ".part").value_or(0);
    EXPECT_GE(kept, seenBytes.load());
    EXPECT_LT(kept, 2000000);
}

// What the settings window offers: the decode models, each marked installed or not.
TEST(ModelInstall, OptionsAreTheDecodeModelsAndTheConfiguredOneAfterThem) {
    test::TempDir home;
    std::filesystem::create_directories(home.file(".whisper-models"));
    test::writeFixture(home.file(".whisper-models/ggml-my-own.bin"), "lmgg");
    test::writeFixture(home.file(".whisper-models/ggml-base.en.bin"), "lmgg");

    const std::string speeds = home.file("speeds");
    ASSERT_TRUE(recordModelSpeed(speeds, "base.en", {6, 1.25}));
    const auto options = decodeModelOptions(home.path(), "my-own", speeds);
    ASSERT_GE(options.size(), 2u);
    EXPECT_EQ(options.front().name, "tiny");
    EXPECT_EQ(options.back().name, "my-own"); // not in the catalog: last, without a size
    EXPECT_FALSE(options.back().mebibytes);
    EXPECT_TRUE(options.back().installed);
    for (const auto& option : options) {
        EXPECT_FALSE(option.name.starts_with("silero")) << option.name;
        EXPECT_EQ(option.installed, option.name == "base.en" || option.name == "my-own")
            << option.name;
        EXPECT_EQ(option.speed.has_value(), option.name == "base.en") << option.name;
    }
    EXPECT_EQ(decodeModelOptions(home.path(), "base.en", speeds).size(), options.size() - 1);

    // Only what the catalog can fetch is downloaded.
    ModelInstaller installer(home.path());
    EXPECT_FALSE(installer.start("silero-v5.1.2", {}, {}));
    EXPECT_FALSE(installer.start("my-own", {}, {}));
    EXPECT_FALSE(installer.downloading());
}

// What a machine without a decode model gets: always a model the set-up can download.
TEST(ModelCatalog, AMachineWithoutAModelGetsTheEngineThatSuitsIt) {
    struct Case {
        bool gpu;
        const char* language;
        const char* model;
    };
    const Case cases[] = {
        {true, "en", "large-v3-turbo-q5_0"},
        {true, "ja", "large-v3-turbo-q5_0"},
        {false, "auto", "parakeet-tdt-0.6b-v3"},
        {false, "uk", "parakeet-tdt-0.6b-v3"},
        {false, "ja", "base"},
        {false, "en-us", "base"},
    };
    for (const auto& c : cases) {
        const auto pick = pickDecodeModel(c.gpu, c.language);
        EXPECT_EQ(pick.name, c.model) << c.language << (c.gpu ? " with a GPU" : "");
        EXPECT_TRUE(findModel(pick.name)) << pick.name;
        EXPECT_FALSE(pick.reason.empty());
    }
}

// The speeds file keeps one line per model through rewrites, and a line it cannot read measures
// nothing rather than a wrong speed; the wait a speed promises follows each engine's cost.
TEST(ModelSpeeds, KeptPerModelAndReadIntoTheWaitOfEachEngine) {
    test::TempDir home;
    const std::string file = home.file("model-speeds");
    struct Case {
        const char* written; // the file before (nullptr: none)
        const char* model;
        ModelSpeed speed;
        std::vector<std::string> measured; // the models the file then holds
    };
    const Case cases[] = {
        {nullptr, "parakeet-tdt-0.6b-v3", {6, 0.9}, {"parakeet-tdt-0.6b-v3"}},
        {"base 6 2.5\ntiny 6 0.4\n", "base", {6, 2.0}, {"base", "tiny"}},
        {"# a comment\nbase 6\nsmall six 2\nmedium 6 -1\ntiny 6 0.4 extra\nbase.en 6 nan\n",
         "tiny.en",
         {6, 0.3},
         {"tiny.en"}},
        {"\xff\xfe not text", "base", {6, 2.0}, {"base"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        removeFile(file);
        if (c.written) test::writeFixture(file, c.written);
        ASSERT_TRUE(recordModelSpeed(file, c.model, c.speed));
        const auto speeds = loadModelSpeeds(file);
        std::vector<std::string> names;
        for (const auto& [name, speed] : speeds)
            names.push_back(name);
        EXPECT_EQ(names, c.measured);
        EXPECT_DOUBLE_EQ(speeds.at(c.model).computeSeconds, c.speed.computeSeconds);
        EXPECT_EQ(filePermissions(file), 0600);
    }
    EXPECT_FALSE(recordModelSpeed(file, "two words", {6, 1}));
    EXPECT_FALSE(recordModelSpeed(file, "", {6, 1}));

    // Parakeet: the typical tail at the measured rate; whisper: a whole window per decode.
    const ModelSpeed speed{6, 1.2};
    EXPECT_DOUBLE_EQ(expectedWaitSeconds(SpeechEngine::Parakeet, speed),
                     1.2 / 6 * kTypicalTailSeconds);
    EXPECT_DOUBLE_EQ(expectedWaitSeconds(SpeechEngine::Whisper, speed), 1.2);
    EXPECT_EQ(speedText(speed), "6 s of audio in 1.2 s");
}

// What vulkaninfo and nvidia-smi print: a device counts only when a driver lists a GPU.
TEST(GpuProbe, AGpuIsWhatADriverListsAndNotACpuRasteriser) {
    const std::string llvmpipe = "GPU0:\n\tapiVersion = 1.3.255\n\tdeviceType = "
                                 "PHYSICAL_DEVICE_TYPE_CPU\n\tdeviceName = llvmpipe (LLVM 15.0.6, "
                                 "256 bits)\n";
    const std::string radeon = "GPU1:\n\tdeviceType         = "
                               "PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU\n\tdeviceName         = AMD "
                               "Radeon Graphics (RADV RENOIR)\n";
    struct Case {
        std::string vulkan;
        std::optional<std::string> device;
    };
    const Case vulkanCases[] = {
        {"Devices:\n========\n" + llvmpipe + radeon, "AMD Radeon Graphics (RADV RENOIR)"},
        {"Devices:\n" + llvmpipe, std::nullopt},
        {"GPU0:\n\tdeviceName = NVIDIA GeForce RTX 3060\n\tdeviceType = "
         "PHYSICAL_DEVICE_TYPE_DISCRETE_GPU\n",
         "NVIDIA GeForce RTX 3060"},
        {"", std::nullopt},
    };
    for (const auto& c : vulkanCases)
        EXPECT_EQ(vulkanGpuOf(c.vulkan), c.device) << c.vulkan;
    EXPECT_EQ(nvidiaGpuOf("NVIDIA GeForce RTX 4090\nNVIDIA A100\n"), "NVIDIA GeForce RTX 4090");
    EXPECT_EQ(nvidiaGpuOf("No devices were found\n"), std::nullopt);

    // Probe tools that hang, fail or list a GPU; the build tools there or not.
    test::TempDir dir;
    const auto tool = [&](const std::string& name, const std::string& body) {
        const std::string path = dir.file(name);
        test::writeFixture(path, "#!/bin/sh\n" + body + "\n");
        setPermissions(path, 0755);
        return path;
    };
    std::filesystem::create_directories(dir.file("include/vulkan"));
    test::writeFixture(dir.file("include/vulkan/vulkan.h"), "");
    GpuProbeTools tools;
    tools.vulkaninfo = tool("vulkaninfo", "exec sleep 30");
    tools.nvidiaSmi = tool("nvidia-smi", "echo 'NVIDIA A100'");
    tools.glslc = tool("glslc", "true");
    tools.nvcc = dir.file("no-nvcc");
    tools.includeDirs = {dir.file("include")};
    tools.limitSeconds = 0.5;
    const auto start = std::chrono::steady_clock::now();
    auto found = probeGpu(tools);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(found.vulkanDevice);
    EXPECT_TRUE(found.vulkanBuildable);
    EXPECT_EQ(found.cudaDevice, "NVIDIA A100");
    EXPECT_FALSE(found.cudaBuildable);
    EXPECT_FALSE(found.usable()); // a GPU without its build tools, and one that did not answer
    EXPECT_NE(found.notes.find("Vulkan: no GPU (no answer within 0.5 s, stopped)"),
              std::string::npos)
        << found.notes;

    // Which engine build counts as using the GPU it finds.
    tools.vulkaninfo = tool("vulkaninfo", "printf '" + radeon + "'");
    found = probeGpu(tools);
    EXPECT_EQ(found.usable(), GpuBackend::Vulkan);
    struct Build {
        const char* stamp;
        bool gpu;
    };
    const Build builds[] = {{"-DGGML_OPENMP=ON\n-DGGML_VULKAN=ON\n", true},
                            {"-DGGML_METAL=ON\n", true},
                            {"-DGGML_VULKAN=OFF\n", false}};
    for (const auto& build : builds)
        EXPECT_EQ(engineUsesGpu(build.stamp, found, nullptr), build.gpu) << build.stamp;
    found.cudaDevice.reset();
    EXPECT_FALSE(engineUsesGpu("-DGGML_CUDA=ON\n", found, nullptr));
}

// Names come from file names, never a path; the engine follows the name, for a model the
// catalog does not know too; a mirror and its checksum list replace the published ones.
TEST(ModelCatalog, NamesEnginesAndAMirror) {
    EXPECT_EQ(modelNameOfFile("/h/.whisper-models/ggml-base.en-q5_1.bin"), "base.en-q5_1");
    EXPECT_EQ(modelNameOfFile("/h/m/base.bin"), std::nullopt);
    EXPECT_EQ(modelNameOfFile("ggml-.bin"), std::nullopt);
    EXPECT_FALSE(findModel("../etc"));
    for (const auto& [file, engine] :
         {std::pair{"/h/.whisper-models/ggml-parakeet-tdt-0.6b-v3-q8_0.bin",
                    SpeechEngine::Parakeet},
          std::pair{"/h/.whisper-models/ggml-parakeet-my-own.bin", SpeechEngine::Parakeet},
          std::pair{"/h/.whisper-models/ggml-base.en.bin", SpeechEngine::Whisper},
          std::pair{"/h/parakeet/base.bin", SpeechEngine::Whisper}})
        EXPECT_EQ(engineOfModel(file), engine) << file;

    const auto turbo = findModel("large-v3-turbo-q5_0");
    const auto parakeet = findModel("parakeet-tdt-0.6b-v3");
    ASSERT_TRUE(turbo && parakeet);
    test::TempDir dir;
    writeFixture(dir.file("sums"), std::string(40, 'a') + "  ggml-large-v3-turbo-q5_0.bin\n");
    ::setenv("VAK_MODEL_BASE_URL", "http://127.0.0.1:9/models/", 1);
    ::setenv("VAK_MODEL_SHA1SUMS", dir.file("sums").c_str(), 1);
    EXPECT_EQ(modelUrl(*turbo), "http://127.0.0.1:9/models/ggml-large-v3-turbo-q5_0.bin");
    // Parakeet models are fetched under the host's name.
    EXPECT_EQ(modelUrl(*parakeet), "http://127.0.0.1:9/models/ggml-parakeet-tdt-0.6b-v3-f16.bin");
    EXPECT_EQ(expectedFile(*turbo).sha1, std::string(40, 'a'));
    EXPECT_EQ(expectedFile(*findModel("base.en")).sha1, findModel("base.en")->sha1);
    ::unsetenv("VAK_MODEL_BASE_URL");
    ::unsetenv("VAK_MODEL_SHA1SUMS");

    DownloadProgress p{300 << 20, 600 << 20, 10 << 20, 30};
    EXPECT_EQ(progressBarText(p, 10), "[#####-----]  300.0 / 600.0 MiB  10.0 MiB/s  0:30 left");
}

} // namespace
} // namespace vak
