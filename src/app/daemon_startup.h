#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace vak {

struct Config;
struct DecodeMemory;
struct ProcessValues;

// What every decode of this process shares (DecodeMemory): one for the whole process, handed to
// each DecodeSettings the entry makes.
const DecodeMemory& processDecodeMemory();

// What the daemon found at start, for its log lines and banner.
struct EngineCheck {
    bool whisperFound = false;
    bool whisperServerFound = false;
    bool modelFound = false;
    bool vadModelFound = false;
    bool ffmpegFound = false;
    bool captionModelFound = false; // or none needed: the Parakeet server captions
    bool parakeetModel = false;     // the decode model is Parakeet's: its server decodes
    bool parakeetServerFound = false;

    bool localDecodeReady() const {
        return modelFound && (parakeetModel ? parakeetServerFound : whisperFound);
    }
    static EngineCheck fromProcess(const ProcessValues& values);
};

// Logs the local engine found (tools and models by path) or what is missing (local decoding,
// whisper-cli, the VAD model), and returns whether local decoding is ready.
bool logEngineCheck(const EngineCheck& check, const ProcessValues& values);

// Everything the banner line reports.
struct BannerFacts {
    EngineCheck engines;
    std::size_t learnedCount = 0;
    std::size_t snippetCount = 0;
    std::vector<std::string> micPlan; // candidate device names in preference order
};

// The one "▶ …" line the daemon logs when it is up.
std::string bannerLine(const Config& config, const BannerFacts& facts);

} // namespace vak
