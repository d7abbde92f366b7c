#pragma once

#include "foundation/config.h"
#include "foundation/scratch_files.h"
#include "foundation/user_files.h"

#include <string>
#include <string_view>
#include <vector>

namespace vak {

// Values every part of the program reads, created once at start in this order (later ones use
// earlier ones) and never changed afterwards.
struct ProcessValues {
    std::string HOME;              // the user's home folder
    std::string LOG;               // ~/.dictation/vak.log
    std::string CONFIG_PATH;       // ~/.dictation/config
    Config cfg;                    // loaded once; later writes to the file apply at the next start
    std::string MODEL;             // local decode model: DECODE_MODEL's file
    std::string VAD_MODEL;         // voice-activity model
    std::string ENGINE_DIR;        // where --setup-engine installs the speech tools
    std::string WHISPER;           // whisper-cli
    std::string WHISPER_SERVER;    // whisper-server
    std::string PARAKEET_SERVER;   // vak-parakeet-server, the resident Parakeet decoder
    std::string FFMPEG;            // ffmpeg
    std::string LEARNED_PATH;      // ~/.dictation/learned-words.txt
    std::string SNIPPETS_PATH;     // ~/.dictation/snippets
    std::string FIRST_RUN_MARKER;  // ~/.dictation/.explained
    std::string HISTORY_PATH;      // ~/.dictation/history.enc
    std::string MODEL_SPEEDS_PATH; // ~/.dictation/model-speeds: each model's measured speed
    // Where the running daemon takes commands (--toggle, --quit…): $XDG_RUNTIME_DIR when set
    // (the user's own folder for this login), else ~/.dictation.
    std::string CONTROL_SOCKET;       // …/vak-dictate.sock
    std::string DAEMON_LOCK;          // …/vak-dictate.lock, held by the one running daemon
    ScratchFiles scratch;             // every vak_… scratch file: in $VAK_TMPDIR, else /tmp
    std::vector<std::string> cliArgs; // the process arguments, [0] being the program path

    std::string dictationDir() const { return dictationDirectory(HOME); }
    std::string file(UserFile file) const { return userFilePath(HOME, file); }
};

// Builds the values from the environment (HOME, else the password database; VAK_TMPDIR;
// VAK_TOOL_PATH; VAK_ENGINE_DIR), creates ~/.dictation and loads the configuration. Runs once;
// later calls return the values of the first.
const ProcessValues& initProcessValues(const std::vector<std::string>& args);
// The values; initialises them with no arguments when nothing has yet.
const ProcessValues& processValues();
inline const Config& cfg() {
    return processValues().cfg;
}

// The voice-activity model's name.
inline constexpr std::string_view kVadModelName = "silero-v5.1.2";

// ~/.whisper-models, where every model lives.
std::string modelsDirectory(std::string_view home);
// The file of the model `name` there: ggml-NAME.bin.
std::string modelPath(std::string_view home, std::string_view name);
// The speech tools' own install folder (tools in its bin/): $VAK_ENGINE_DIR, else
// ~/.local/share/vak-dictate/engine.
std::string engineDirectory(std::string_view home);

// Full path of an outside tool: the folders of $VAK_TOOL_PATH (colon-separated) first, then the
// engine folder's bin/, then /opt/homebrew/bin, /usr/local/bin, /usr/bin, /opt/local/bin; the
// first executable file wins. Empty when there is none.
std::string _which(std::string_view name);
// The same with an explicit search list in front of the standard prefixes.
std::string _which(std::string_view name, std::string_view toolPath);

// The home folder: $HOME when set and not empty, else the password database.
std::string homeDirectory();

} // namespace vak
