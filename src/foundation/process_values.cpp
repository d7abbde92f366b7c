#include "foundation/process_values.h"

#include "base/environment.h"
#include "base/files.h"
#include "base/log.h"
#include "foundation/user_files.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <pwd.h>
#include <unistd.h>

namespace vak {

namespace {

ProcessValues buildValues(const std::vector<std::string>& args) {
    ProcessValues v;
    v.HOME = homeDirectory();
    v.LOG = userFilePath(v.HOME, UserFile::Log);
    setLogPath(v.LOG);
    v.CONFIG_PATH = userFilePath(v.HOME, UserFile::Config);
    makeDirectories(v.dictationDir(), 0700); // a failure shows up later as failed writes
    // Before the model paths: DECODE_MODEL names the decode model.
    v.cfg = Config::load(v.CONFIG_PATH, v.HOME);
    v.MODEL = modelPath(v.HOME, v.cfg.decodeModel);
    v.VAD_MODEL = modelPath(v.HOME, kVadModelName);
    v.ENGINE_DIR = engineDirectory(v.HOME);
    v.WHISPER = _which("whisper-cli");
    v.WHISPER_SERVER = _which("whisper-server");
    v.PARAKEET_SERVER = _which("vak-parakeet-server");
    v.FFMPEG = _which("ffmpeg");
    v.LEARNED_PATH = userFilePath(v.HOME, UserFile::LearnedWords);
    v.SNIPPETS_PATH = userFilePath(v.HOME, UserFile::Snippets);
    v.FIRST_RUN_MARKER = userFilePath(v.HOME, UserFile::FirstRunMarker);
    v.HISTORY_PATH = userFilePath(v.HOME, UserFile::History);
    v.MODEL_SPEEDS_PATH = userFilePath(v.HOME, UserFile::ModelSpeeds);
    const std::string runtime = envValueOr(Env::RuntimeDir, "");
    const std::string runtimeDir = runtime.starts_with('/') ? runtime : v.dictationDir();
    v.CONTROL_SOCKET = runtimeDir + "/vak-dictate.sock";
    v.DAEMON_LOCK = runtimeDir + "/vak-dictate.lock";
    // A recording the scratch folder cannot take goes to the user's own folder.
    v.scratch = ScratchFiles(envValueOr(Env::TmpDir, ""), userFilePath(v.HOME, UserFile::Overflow));
    v.cliArgs = args;
    return v;
}

std::once_flag initOnce;
// Never destroyed: threads still running at exit may read it.
std::atomic<const ProcessValues*> values{nullptr};

} // namespace

std::string homeDirectory() {
    std::string home = envValueOr(Env::Home, "");
    if (!home.empty()) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

const ProcessValues& initProcessValues(const std::vector<std::string>& args) {
    std::call_once(initOnce, [&] { values.store(new ProcessValues(buildValues(args))); });
    return *values.load();
}

const ProcessValues& processValues() {
    const ProcessValues* current = values.load();
    return current != nullptr ? *current : initProcessValues({});
}

std::string modelsDirectory(std::string_view home) {
    return std::string(home) + "/.whisper-models";
}

std::string modelPath(std::string_view home, std::string_view name) {
    return modelsDirectory(home) + "/ggml-" + std::string(name) + ".bin";
}

std::string engineDirectory(std::string_view home) {
    const std::string over = envValueOr(Env::EngineDir, "");
    return over.empty() ? std::string(home) + "/.local/share/vak-dictate/engine" : over;
}

std::string _which(std::string_view name) {
    // The speech tools that --setup-engine installs come right after the caller's own folders.
    return _which(name,
                  envValueOr(Env::ToolPath, "") + ":" + engineDirectory(homeDirectory()) + "/bin");
}

std::string _which(std::string_view name, std::string_view toolPath) {
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= toolPath.size()) {
        const auto colon = toolPath.find(':', start);
        const auto piece =
            toolPath.substr(start, colon == std::string_view::npos ? colon : colon - start);
        if (!piece.empty()) folders.emplace_back(piece);
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    for (const char* prefix :
         {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/opt/local/bin"}) {
        folders.emplace_back(prefix);
    }
    for (auto& folder : folders) {
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        const std::string candidate = folder + "/" + std::string(name);
        if (isExecutableFile(candidate)) return candidate;
    }
    return {};
}

} // namespace vak
