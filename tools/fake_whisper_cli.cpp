// A stand-in for whisper.cpp's whisper-cli (release 1.9.3). It parses the real tool's options and
// fails as the real one does: an unknown option, a missing value or an unknown language print
// "error: …" (and the usage) on standard error and exit 0 without writing any text; a malformed
// number aborts (the real tool's std::stoi throws); no existing input exits 2, a missing model 3;
// an input that is not audio is skipped with an error line. --help prints the option list on
// standard error. It records every call and then behaves as its control folder says.
//
// Control folder: $VAK_FAKE_WHISPER_DIR, else the folder this program was started from (so a
// link named "whisper-cli" in a test's tool folder keeps its files beside it).
//   fake-whisper.conf  key=value lines:
//       mode=write|silent|hang|crash  write the transcript (default); exit 0 without output;
//                                     ignore SIGTERM and sleep; end by SIGKILL
//       delay=SECONDS                 sleep first (SIGTERM still ends it)
//       exit=N                        exit status after writing
//       source=NAME                   transcript source (fake_whisper_sources.h): "fixed"
//                                     (default) or "tones"
//       keep_inputs=1                 copy each input to input-<pid>-<n>.wav (n from 0), so a
//                                     test can see what was decoded after the caller deleted it
//   transcript.txt     what the "fixed" source answers ($VAK_FAKE_TRANSCRIPT wins)
//   calls.log          one line per call (but a lone --help or --version): pid, start time in ms
//   since the epoch, then the
//                      arguments, separated by the 0x1f byte
//   umask.txt          the file-creation mask it was started with, in octal
#include "fake_whisper_sources.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Value { None, Int, Float, Text };

struct Option {
    const char* shortName;
    const char* longName;
    Value value;
};

// The real tool's options (short and long spellings) and the kind of value each takes.
const Option kOptions[] = {
    {"-h", "--help", Value::None},
    {"-t", "--threads", Value::Int},
    {"-p", "--processors", Value::Int},
    {"-ot", "--offset-t", Value::Int},
    {"-on", "--offset-n", Value::Int},
    {"-d", "--duration", Value::Int},
    {"-mc", "--max-context", Value::Int},
    {"-ml", "--max-len", Value::Int},
    {"-sow", "--split-on-word", Value::None},
    {"-bo", "--best-of", Value::Int},
    {"-bs", "--beam-size", Value::Int},
    {"-ac", "--audio-ctx", Value::Int},
    {"-wt", "--word-thold", Value::Float},
    {"-et", "--entropy-thold", Value::Float},
    {"-lpt", "--logprob-thold", Value::Float},
    {"-nth", "--no-speech-thold", Value::Float},
    {"-tp", "--temperature", Value::Float},
    {"-tpi", "--temperature-inc", Value::Float},
    {"-debug", "--debug-mode", Value::None},
    {"-tr", "--translate", Value::None},
    {"-di", "--diarize", Value::None},
    {"-tdrz", "--tinydiarize", Value::None},
    {"-nf", "--no-fallback", Value::None},
    {"-otxt", "--output-txt", Value::None},
    {"-ovtt", "--output-vtt", Value::None},
    {"-osrt", "--output-srt", Value::None},
    {"-olrc", "--output-lrc", Value::None},
    {"-owts", "--output-words", Value::None},
    {"-fp", "--font-path", Value::Text},
    {"-ocsv", "--output-csv", Value::None},
    {"-oj", "--output-json", Value::None},
    {"-ojf", "--output-json-full", Value::None},
    {"-of", "--output-file", Value::Text},
    {"-np", "--no-prints", Value::None},
    {"-ps", "--print-special", Value::None},
    {"-pc", "--print-colors", Value::None},
    {"-pp", "--print-progress", Value::None},
    {"-nt", "--no-timestamps", Value::None},
    {"-l", "--language", Value::Text},
    {"-dl", "--detect-language", Value::None},
    {nullptr, "--prompt", Value::Text},
    {nullptr, "--carry-initial-prompt", Value::None},
    {"-m", "--model", Value::Text},
    {"-f", "--file", Value::Text},
    {"-oved", "--ov-e-device", Value::Text},
    {"-dtw", "--dtw", Value::Text},
    {"-ls", "--log-score", Value::None},
    {"-ng", "--no-gpu", Value::None},
    {"-fa", "--flash-attn", Value::None},
    {"-sns", "--suppress-nst", Value::None},
    {nullptr, "--suppress-regex", Value::Text},
    {nullptr, "--grammar", Value::Text},
    {nullptr, "--grammar-rule", Value::Text},
    {nullptr, "--grammar-penalty", Value::Float},
    {nullptr, "--vad", Value::None},
    {"-vm", "--vad-model", Value::Text},
    {"-vt", "--vad-threshold", Value::Float},
    {"-vspd", "--vad-min-speech-duration-ms", Value::Int},
    {"-vsd", "--vad-min-silence-duration-ms", Value::Int},
    {"-vmsd", "--vad-max-speech-duration-s", Value::Float},
    {"-vp", "--vad-speech-pad-ms", Value::Int},
    {"-vo", "--vad-samples-overlap", Value::Float},
};

// The language codes whisper.cpp knows.
const char* const kLanguages[] = {
    "en", "zh", "de", "es",  "ru", "ko", "fr", "ja", "pt", "tr",  "pl", "ca", "nl", "ar", "sv",
    "it", "id", "hi", "fi",  "vi", "he", "uk", "el", "ms", "cs",  "ro", "da", "hu", "ta", "no",
    "th", "ur", "hr", "bg",  "lt", "la", "mi", "ml", "cy", "sk",  "te", "fa", "lv", "bn", "sr",
    "az", "sl", "kn", "et",  "mk", "br", "eu", "is", "hy", "ne",  "mn", "bs", "kk", "sq", "sw",
    "gl", "mr", "pa", "si",  "km", "sn", "yo", "so", "af", "oc",  "ka", "be", "tg", "sd", "gu",
    "am", "yi", "lo", "uz",  "fo", "ht", "ps", "tk", "nn", "mt",  "sa", "lb", "my", "bo", "tl",
    "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su", "yue",
};

bool knownLanguage(const std::string& language) {
    if (language == "auto") return true;
    for (const char* code : kLanguages) {
        if (language == code) return true;
    }
    return false;
}

// The option list in the real tool's layout: spellings, then the "[default]" column.
void printUsage(const char* argv0) {
    std::fprintf(stderr, "\nusage: %s [options] file0 file1 ...\n\noptions:\n", argv0);
    for (const auto& option : kOptions) {
        std::string names = option.shortName != nullptr ? std::string(option.shortName) + "," : "";
        names.resize(12, ' ');
        names += option.longName;
        if (option.value != Value::None) names += " N";
        names.resize(36, ' ');
        std::fprintf(stderr, "  %s[       ]\n", names.c_str());
    }
}

const Option* findOption(const std::string& arg) {
    for (const auto& option : kOptions) {
        if ((option.shortName != nullptr && arg == option.shortName) || arg == option.longName)
            return &option;
    }
    return nullptr;
}

bool validNumber(const std::string& text, Value kind) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    if (kind == Value::Int) {
        std::strtol(text.c_str(), &end, 10);
    } else {
        std::strtod(text.c_str(), &end);
    }
    return errno == 0 && end != nullptr && *end == '\0';
}

// What the real tool does after most mistakes: says so, prints the usage and exits 0.
int refuse(const char* argv0, const std::string& message) {
    std::fprintf(stderr, "error: %s\n", message.c_str());
    printUsage(argv0);
    return 0;
}

std::string controlFolder(const char* argv0) {
    if (const char* dir = std::getenv("VAK_FAKE_WHISPER_DIR")) return dir;
    const std::string self = argv0;
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

std::map<std::string, std::string> readControl(const std::string& dir) {
    std::map<std::string, std::string> control;
    std::ifstream file(dir + "/fake-whisper.conf");
    std::string line;
    while (std::getline(file, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) control[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return control;
}

void record(const std::string& dir, int argc, char** argv) {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    std::string line = std::to_string(getpid()) + "\x1f" + std::to_string(now);
    for (int i = 1; i < argc; ++i) {
        line += '\x1f';
        line += argv[i];
    }
    line += '\n';
    // One write on an append-only descriptor: concurrent calls never interleave.
    const int fd = open((dir + "/calls.log").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0) return;
    if (write(fd, line.data(), line.size()) < 0) {
        // Nothing to do: the record is a convenience for tests.
    }
    close(fd);

    const mode_t mask = umask(0);
    umask(mask);
    std::ofstream(dir + "/umask.txt") << std::oct << mask;
}

bool isWavFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char head[12] = {};
    file.read(head, sizeof head);
    return file.gcount() == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

void sleepSeconds(double seconds) {
    if (seconds > 0) usleep(static_cast<useconds_t>(seconds * 1e6));
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = controlFolder(argv[0]);
    // Asking for the help or the version is no decode; tests count decodes.
    const bool query =
        argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "--version") == 0);
    if (!query) record(dir, argc, argv);

    fake::DecodeRequest request;
    request.controlDir = dir;
    request.argv.assign(argv, argv + argc);
    std::string outputBase;
    bool outputTxt = false;
    request.language = "en";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-" || arg[0] != '-') { // bare arguments are input files in the real tool
            request.inputs.push_back(arg);
            continue;
        }
        if (arg == "--version") {
            std::printf("whisper.cpp version: 1.9.3 (test double)\n");
            return 0;
        }
        const Option* option = findOption(arg);
        if (option == nullptr) return refuse(argv[0], "unknown argument: " + arg);
        if (option->value == Value::None) {
            if (std::strcmp(option->longName, "--output-txt") == 0) outputTxt = true;
            if (std::strcmp(option->longName, "--help") == 0) {
                printUsage(argv[0]);
                return 0;
            }
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "error: argument %s requires value\n", arg.c_str());
            return 0;
        }
        const std::string value = argv[++i];
        if (option->value != Value::Text && !validNumber(value, option->value)) {
            std::fprintf(stderr, "terminate called after throwing an instance of "
                                 "'std::invalid_argument'\n  what():  stoi\n");
            std::abort();
        }
        const std::string name = option->longName;
        if (name == "--model") request.model = value;
        if (name == "--file") request.inputs.push_back(value);
        if (name == "--language") request.language = value;
        if (name == "--prompt") request.prompt = value;
        if (name == "--output-file") outputBase = value;
    }
    if (request.model.empty()) request.model = "models/ggml-base.en.bin";
    std::erase_if(request.inputs, [](const std::string& input) {
        struct stat st {};
        if (input == "-" || stat(input.c_str(), &st) == 0) return false;
        std::fprintf(stderr, "error: input file not found '%s'\n", input.c_str());
        return true;
    });
    if (request.inputs.empty()) {
        std::fprintf(stderr, "error: no input files specified\n");
        printUsage(argv[0]);
        return 2;
    }
    if (!knownLanguage(request.language)) {
        std::fprintf(stderr, "whisper_lang_id: unknown language '%s'\n", request.language.c_str());
        return refuse(argv[0], "unknown language '" + request.language + "'");
    }
    struct stat st {};
    if (stat(request.model.c_str(), &st) != 0) {
        std::fprintf(stderr,
                     "whisper_init_from_file_with_params_no_state: failed to open '%s'\n"
                     "error: failed to initialize whisper context\n",
                     request.model.c_str());
        return 3;
    }
    // The real tool skips an input it cannot read as audio, with an error line.
    std::erase_if(request.inputs, [](const std::string& input) {
        if (isWavFile(input)) return false;
        std::fprintf(stderr, "error: failed to read audio file '%s'\n", input.c_str());
        return true;
    });
    if (request.inputs.empty()) return 0;

    const auto control = readControl(dir);
    const auto setting = [&](const char* key, const char* fallback) {
        const auto found = control.find(key);
        return found != control.end() ? found->second : std::string(fallback);
    };
    if (setting("keep_inputs", "0") == "1") {
        for (std::size_t n = 0; n < request.inputs.size(); ++n) {
            std::ifstream in(request.inputs[n], std::ios::binary);
            std::ofstream(dir + "/input-" + std::to_string(getpid()) + "-" + std::to_string(n) +
                              ".wav",
                          std::ios::binary)
                << in.rdbuf();
        }
    }
    const std::string mode = setting("mode", "write");
    if (mode == "hang") {
        std::signal(SIGTERM, SIG_IGN);
        sleepSeconds(600);
        return 0;
    }
    sleepSeconds(std::atof(setting("delay", "0").c_str()));
    if (mode == "crash") std::raise(SIGKILL); // as if the system had killed it
    if (mode == "silent") return 0;

    auto source = fake::makeTranscriptSource(setting("source", "fixed"));
    if (!source) {
        std::fprintf(stderr, "fake whisper-cli: unknown transcript source\n");
        return 2;
    }
    const auto text = source->transcribe(request);
    if (text && outputTxt) {
        if (outputBase.empty()) outputBase = request.inputs.back();
        std::ofstream out(outputBase + ".txt", std::ios::binary | std::ios::trunc);
        out << *text;
    }
    return std::atoi(setting("exit", "0").c_str());
}
