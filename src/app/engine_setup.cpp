#include "app/engine_setup.h"

#include "app/engine_choice.h"
#include "app/engine_sources.h"
#include "base/environment.h"
#include "base/files.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "foundation/config.h"
#include "foundation/process_values.h"
#include "transcribe/gpu_probe.h"
#include "transcribe/model_catalog.h"
#include "transcribe/model_download.h"
#include "transcribe/tool_report.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr const char* kRelease = "v1.9.3";
constexpr const char* kRepository = "https://github.com/ggml-org/whisper.cpp";
// The newest option the decodes pass; a tool without it is older than they need.
constexpr const char* kNewestOption = "--carry-initial-prompt";

void say(const std::string& line) {
    std::cout << line << std::endl;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t\n", at)) != std::string::npos) {
        const auto end = text.find_first_of(" \t\n", at);
        result.push_back(text.substr(at, end - at));
        at = end;
    }
    return result;
}

bool newEnough(const std::string& cli) {
    const auto options = toolOptions(cli);
    return options && options->contains(kNewestOption);
}

// A step of the build: its last error lines are shown when it fails.
bool step(const std::string& what, const std::vector<std::string>& argv, double limitSeconds) {
    RunOptions run;
    run.timeoutSeconds = limitSeconds;
    run.maxOutputBytes = 64 * 1024;
    run.errorTailBytes = 8 * 1024;
    if (argv.empty() || argv[0].empty()) {
        std::cerr << "✕ " << what << " failed: its program is not installed\n";
        return false;
    }
    std::string error;
    const auto result = runProcess(argv, run, &error);
    if (result && result->status.success()) return true;
    std::cerr << "✕ " << what << " failed"
              << (result ? " (" +
                               std::string(result->timedOut
                                               ? "stopped after its time limit"
                                               : "status " + std::to_string(result->status.code)) +
                               ")"
                         : ": " + error)
              << "\n";
    if (result) std::cerr << result->errorTail << (result->errorTail.empty() ? "" : "\n");
    return false;
}

std::optional<std::string> sourceFolder(const std::string& work) {
    const std::string source = envValueOr(Env::WhisperSource, "");
    if (!source.empty() && std::filesystem::is_directory(source)) return source;
    if (!source.empty()) {
        if (!isRegularFile(source)) {
            std::cerr << "✕ VAK_WHISPER_SRC names " << source << ", which is not there\n";
            return std::nullopt;
        }
        if (!step("unpacking " + source, {"/usr/bin/tar", "-xf", source, "-C", work}, 600))
            return std::nullopt;
    } else {
        say("· no VAK_WHISPER_SRC: cloning whisper.cpp " + std::string(kRelease) + " from " +
            kRepository);
        const std::string git = _which("git");
        if (!step("git clone",
                  {git, "clone", "-q", "--depth", "1", "--branch", kRelease, kRepository,
                   work + "/whisper.cpp"},
                  900))
            return std::nullopt;
    }
    for (const auto& entry : std::filesystem::directory_iterator(work)) {
        if (isRegularFile(entry.path().string() + "/CMakeLists.txt")) return entry.path().string();
    }
    std::cerr << "✕ " << source << " holds no whisper.cpp source folder\n";
    return std::nullopt;
}

// The programs the engine build makes and the set-up installs.
constexpr const char* kEnginePrograms[] = {"whisper-cli", "whisper-server", "vak-parakeet-server"};

bool install(const std::string& built, const std::string& bin) {
    for (const char* tool : kEnginePrograms) {
        const std::string target = bin + "/" + tool;
        const std::string fresh = bin + "/." + tool + ".new";
        std::error_code error;
        std::filesystem::copy_file(built + "/" + tool, fresh,
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error || !setPermissions(fresh, 0755) || std::rename(fresh.c_str(), target.c_str())) {
            std::cerr << "✕ cannot install " << target << "\n";
            return false;
        }
    }
    return true;
}

// What the GPU probe finds, looked for once per run.
const GpuFinding& machineGpu() {
    static const GpuFinding finding = probeGpu(GpuProbeTools::fromProcess());
    return finding;
}

// The CMake options of the build. OpenMP: ggml's own thread pool spins at every barrier, and
// beside other work a whisper.cpp built without OpenMP took minutes for a VAD pass that takes
// two seconds with it (its wait policy is set to passive for every engine process the daemon
// starts). Static libraries otherwise: the programs need only the C library and libgomp.
// Portable x86-64 code with AVX2 unless the extra options say otherwise (a -march=native build
// can crash on another CPU).
std::vector<std::string> buildOptions() {
    std::vector<std::string> options = {"-DCMAKE_BUILD_TYPE=Release", "-DBUILD_SHARED_LIBS=OFF",
                                        "-DWHISPER_BUILD_TESTS=OFF",  "-DWHISPER_BUILD_EXAMPLES=ON",
                                        "-DWHISPER_BUILD_SERVER=ON",  "-DWHISPER_CURL=OFF",
                                        "-DWHISPER_SDL2=OFF",         "-DWHISPER_ALL_WARNINGS=OFF",
                                        "-DGGML_CCACHE=OFF",          "-DGGML_OPENMP=ON",
                                        "-DGGML_NATIVE=OFF"};
#if defined(__x86_64__)
    for (const char* option : {"-DGGML_AVX=ON", "-DGGML_AVX2=ON", "-DGGML_FMA=ON", "-DGGML_F16C=ON",
                               "-DGGML_BMI2=ON", "-DGGML_SSE42=ON"})
        options.emplace_back(option);
#endif
    options.emplace_back("-DCMAKE_EXE_LINKER_FLAGS=-static-libgcc -static-libstdc++");
    const auto extras = words(envValueOr(Env::WhisperCmakeArgs, ""));
    bool backendNamed = false;
    for (const auto& extra : extras)
        backendNamed = backendNamed || extra.starts_with("-DGGML_VULKAN") ||
                       extra.starts_with("-DGGML_CUDA") || extra.starts_with("-DGGML_METAL");
    // A GPU the machine has and can build for, unless the options name a back-end themselves.
    if (!backendNamed)
        if (const auto backend = machineGpu().usable())
            options.emplace_back(gpuBuildOption(*backend));
    for (const auto& extra : extras)
        options.push_back(extra);
    return options;
}

// FNV-1a: enough to tell one version of the server's source from another.
std::string sourceDigest(std::string_view text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return std::to_string(hash);
}

// What the tools in the engine folder were built from and with, kept beside them: a build with
// other options (an older set-up's, without OpenMP) or an older Parakeet server is built again.
std::string buildStamp() {
    std::string stamp = std::string("whisper.cpp ") + kRelease + "\n";
    for (const auto& option : buildOptions())
        stamp += option + "\n";
    stamp += "vak-parakeet-server " + sourceDigest(kParakeetServerSource) + " " +
             sourceDigest(kEngineCMakeLists) + "\n";
    return stamp;
}

std::string stampPath(const std::string& bin) {
    return bin + "/.build-options";
}

bool builtAsWanted(const std::string& bin) {
    for (const char* tool : kEnginePrograms)
        if (!isExecutableFile(bin + "/" + tool)) return false;
    return newEnough(bin + "/whisper-cli") &&
           readTextFile(stampPath(bin)).value_or("") == buildStamp();
}

bool buildTools(const ProcessValues& values) {
    const std::string bin = values.ENGINE_DIR + "/bin";
    if (!makeDirectories(bin, 0755)) {
        std::cerr << "✕ cannot create " << bin << "\n";
        return false;
    }
    // Two set-ups at once build one at a time; the second then finds the tools.
    const UniqueFd lock(
        ::open((values.ENGINE_DIR + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.valid()) ::flock(lock.get(), LOCK_EX);
    if (builtAsWanted(bin)) return true;
    if (isExecutableFile(bin + "/whisper-cli"))
        say("· " + bin +
            " holds an older build (other options, or an older Parakeet server): building it "
            "again");

    std::string pattern = values.scratch.path("vak_whisper_build_XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "✕ cannot create a build folder in " << values.scratch.dir() << "\n";
        return false;
    }
    const std::string work = pattern;
    struct RemoveTree {
        std::string path;
        ~RemoveTree() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } cleanup{work};

    const auto source = sourceFolder(work);
    if (!source) return false;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    say("· building whisper-cli and whisper-server (whisper.cpp " + std::string(kRelease) +
        ", CPU, OpenMP) from " + *source +
        ", and vak-parakeet-server against its Parakeet "
        "library (a resident Parakeet decoder: on a CPU its cost follows the clip, where whisper "
        "pays for 30 s whatever the clip), with " +
        std::to_string(cores) + " jobs — some minutes on a small machine");
    const auto start = SteadyClock::now();
    const std::string cmake = _which("cmake");
    // The engine's own project: whisper.cpp's source as a subfolder, and the server beside it.
    const std::string project = work + "/engine";
    if (!makeDirectories(project, 0700) ||
        !writeFileAtomic(project + "/CMakeLists.txt", kEngineCMakeLists, 0600) ||
        !writeFileAtomic(project + "/vak-parakeet-server.cpp", kParakeetServerSource, 0600)) {
        std::cerr << "✕ cannot write the engine's build files into " << project << "\n";
        return false;
    }
    std::vector<std::string> configure = {
        cmake, "-S", project, "-B", work + "/build", "-DWHISPER_SOURCE=" + *source};
    for (auto& option : buildOptions())
        configure.push_back(std::move(option));
    if (!step("cmake configure", configure, 900)) return false;
    if (!step("cmake build",
              {cmake, "--build", work + "/build", "-j", std::to_string(cores), "--target",
               "whisper-cli", "--target", "whisper-server", "--target", "vak-parakeet-server"},
              3 * 3600))
        return false;
    if (!install(work + "/build/bin", bin)) return false;
    if (!writeFileAtomic(stampPath(bin), buildStamp(), 0644)) {
        std::cerr << "✕ cannot write " << stampPath(bin) << "\n";
        return false;
    }
    say("✓ built and installed whisper-cli, whisper-server and vak-parakeet-server in " + bin +
        " (" + std::to_string(static_cast<long long>(secondsSince(start))) + " s)");
    return true;
}

bool ensureTools(const ProcessValues& values) {
    const std::string cli = _which("whisper-cli");
    const std::string server = _which("whisper-server");
    const std::string parakeet = _which("vak-parakeet-server");
    const std::string ours = values.ENGINE_DIR + "/bin/";
    const bool inEngineFolder = cli == ours + "whisper-cli" || server == ours + "whisper-server";
    // Tools of the user's own are used as they are; ours are built again when their options
    // have changed.
    if (isExecutableFile(cli) && isExecutableFile(server) && isExecutableFile(parakeet) &&
        newEnough(cli) && (!inEngineFolder || builtAsWanted(values.ENGINE_DIR + "/bin"))) {
        say("✓ whisper-cli: " + cli + " · whisper-server: " + server +
            " · vak-parakeet-server: " + parakeet);
        return true;
    }
    if (isExecutableFile(cli) && !newEnough(cli))
        say("· " + cli + " has no " + kNewestOption + ": building the newer release");
    return buildTools(values);
}

// The decode model's file: DECODE_MODEL's, unless the configuration leaves it open (a first
// set-up): then the model that suits this machine, written into the configuration with the
// reason. A model the user named, or one already installed, stays.
std::string decodeModelFile(const ProcessValues& values) {
    std::string problem;
    const auto choice = chooseModelForMachine(values, &problem);
    if (!choice) {
        if (!problem.empty()) std::cerr << "✕ " << problem << "\n";
        return values.MODEL;
    }
    say("· GPU probe: " + choice->gpuNotes);
    say("· DECODE_MODEL=" + choice->model + " chosen for this machine: " + choice->reason +
        " (written into " + values.CONFIG_PATH +
        "; a model you pick there or in the settings window stays)");
    return modelPath(values.HOME, choice->model);
}

// The models to have, by file: the decode model, the caption model, the voice-activity model.
std::vector<std::string> wantedModels(const ProcessValues& values) {
    std::vector<std::string> files = {decodeModelFile(values)};
    if (values.cfg.liveCaptions) files.push_back(values.cfg.captionModel);
    files.push_back(values.VAD_MODEL);
    return files;
}

bool fetchModel(const std::string& path) {
    const auto name = modelNameOfFile(path);
    const auto model = name ? findModel(*name) : std::nullopt;
    if (!model) {
        std::cerr << "✕ " << path
                  << " is missing, and it is not a model the set-up can download (the names of "
                     "whisper.cpp's models, as in ggml-base.en.bin): put it there yourself\n";
        return false;
    }
    const std::string url = modelUrl(*model);
    const ExpectedFile expected = expectedFile(*model);
    say("· downloading " + std::string(model->name) + " from " + url);
    if (expected.sha1.empty() && expected.sha256.empty())
        say("  (no checksum is published for it: its size and file format are checked)");
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    int lastTenth = -1;
    const auto result = downloadFile(url, path, expected, [&](const DownloadProgress& p) {
        if (terminal) {
            std::cerr << "\r  " << progressBarText(p) << "   " << std::flush;
            return;
        }
        // Not a terminal (a log): a line at every tenth.
        const int tenth = p.total && *p.total > 0 ? static_cast<int>(p.bytes * 10 / *p.total) : 0;
        if (tenth != lastTenth) std::cerr << "  " << progressBarText(p) << "\n";
        lastTenth = tenth;
    });
    if (terminal) std::cerr << "\n";
    using Outcome = DownloadResult::Outcome;
    switch (result.outcome) {
    case Outcome::Done:
        say("✓ " + path + (result.resumed ? " (resumed)" : ""));
        return true;
    case Outcome::Unreachable:
        std::cerr << "✕ cannot reach " << url << " (" << result.detail << ") — offline? Put ggml-"
                  << model->name << ".bin into " << path.substr(0, path.rfind('/'))
                  << "/ by hand, or set VAK_MODEL_BASE_URL to a mirror, and run the set-up again\n";
        return false;
    case Outcome::Interrupted:
        std::cerr << "✕ the download of " << model->name << " broke off (" << result.detail
                  << "); the part received is kept: run the set-up again to resume it\n";
        return false;
    case Outcome::Mismatch:
        std::cerr << "✕ the download of " << model->name << " is not the published file ("
                  << result.detail << "); it was removed — run the set-up again\n";
        return false;
    case Outcome::Refused:
    case Outcome::Failed:
    case Outcome::Cancelled: // nothing here cancels
        break;
    }
    std::cerr << "✕ cannot download " << url << " (" << result.detail << ")\n";
    return false;
}

// The decode model's speed on this machine: measured once (a decode of a short clip on its
// resident server), then read from the speeds file. A model that does not decode is said, and
// left to the daemon's own checks.
void reportDecodeSpeed(const ProcessValues& values, const std::string& modelFile) {
    const auto name = modelNameOfFile(modelFile);
    if (!name) return;
    const auto speeds = loadModelSpeeds(values.MODEL_SPEEDS_PATH);
    if (const auto known = speeds.find(*name); known != speeds.end()) {
        say("✓ " + speedLine(*name, known->second));
        return;
    }
    say("· timing one decode of a short clip with " + *name +
        " on this machine (its server on a free loopback port)…");
    std::string problem;
    if (const auto speed = measureModelSpeed(values, *name, "", &problem)) {
        say("✓ " + speedLine(*name, *speed) + " (kept in " + values.MODEL_SPEEDS_PATH + ")");
        if (!problem.empty()) std::cerr << "⚠️ " << problem << "\n";
    } else {
        std::cerr << "⚠️ could not time a decode with " << *name << ": " << problem << "\n";
    }
}

bool ensureModels(const ProcessValues& values, std::string* decodeModel) {
    makeDirectories(modelsDirectory(values.HOME), 0755);
    bool ok = true;
    const auto wanted = wantedModels(values);
    *decodeModel = wanted.front();
    for (const auto& path : wanted) {
        if (isRegularFile(path)) {
            say("✓ " + path);
        } else if (!fetchModel(path)) {
            ok = false;
        }
    }
    return ok;
}

} // namespace

int runSetupEngine(const std::optional<std::string>& what) {
    const ProcessValues& values = processValues();
    if (what && *what != "tools" && *what != "models") {
        std::cerr << "usage: vak-dictate --setup-engine [tools|models]\n";
        return 2;
    }
    bool ok = true;
    if (!what || *what == "tools") ok = ensureTools(values) && ok;
    std::string decodeModel;
    if (!what || *what == "models") ok = ensureModels(values, &decodeModel) && ok;
    // With the tools and the models in place, the wait a dictation can expect.
    if (!what && ok) reportDecodeSpeed(values, decodeModel);
    if (!ok) std::cerr << "✕ the local speech engine is not complete (see above)\n";
    return ok ? 0 : 1;
}

} // namespace vak
