#pragma once

#include "foundation/constants.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vak {

// Everything tunable, from ~/.dictation/config (KEY=VALUE lines). Read once at start; a change
// to the file takes effect at the next start.
struct Config {
    double vadThreshold = 0.3;           // VAD_THRESHOLD, 0…1
    double maxRecordSeconds = 2700;      // MAX_RECORD_SECONDS, ≥ 10
    bool liveCaptions = true;            // LIVE_CAPTIONS
    double captionInterval = 2.0;        // CAPTION_INTERVAL, ≥ 0.5
    double captionWindow = 10;           // CAPTION_WINDOW, 2…30
    std::string captionModel;            // CAPTION_MODEL, "~" expanded
    std::string inputDevice = "builtin"; // INPUT_DEVICE: builtin | default | name substring
    bool preprocess = true;              // PREPROCESS
    bool callMode = false;               // CALL_MODE
    double chunkSeconds = 30;            // CHUNK_SECONDS, 0…600; below 20 chunking is off
    bool speculative = true;             // SPECULATIVE
    bool useServer = true;               // SERVER
    bool polish = true;                  // POLISH
    std::string polishApps = "terminal,iterm,claude,code,cursor,warp"; // POLISH_APPS
    int polishMinWords = 12;                                           // POLISH_MIN_WORDS, ≥ 1
    std::string polishKey;                                             // POLISH_KEY
    bool polishAsk = true;                                             // POLISH_ASK
    double polishAskTimeout = 30;                                      // POLISH_ASK_TIMEOUT, ≥ 5
    std::string polishModel = "claude-sonnet-5";                       // POLISH_MODEL
    std::string language = "en";                                       // LANGUAGE, lower-cased
    bool whisperMode = false;                                          // WHISPER_MODE
    std::string proApps =
        "mobilesms,messages,mail,outlook,whatsapp,telegram,slack,discord"; // PRO_APPS
    std::string defaultMode = "summarize"; // DEFAULT_MODE, a mode's configuration name
    std::string selectedMode = "ask";      // SELECTED_MODE
    std::string polishProxyUrl{DEFAULT_POLISH_PROXY_URL}; // POLISH_PROXY_URL
    bool cloud = true;                                    // CLOUD
    std::string transcribeUrl{DEFAULT_TRANSCRIBE_URL};    // TRANSCRIBE_URL
    std::uint16_t hotkey = 54;                            // HOTKEY (Right Command)
    std::uint16_t producerKey = 55;                       // PRODUCER_KEY (Left Command)
    bool privacyMode = true;                              // PRIVACY_MODE
    int historyDays = 7;                                  // HISTORY_DAYS, 0…365
    bool keepLastClip = false;                            // KEEP_LAST_CLIP
    std::string style;                                    // STYLE

    // The built-in defaults; paths hang off `home`.
    static Config defaults(std::string_view home);
    // Reads the process's configuration file (see the overload) with the process's home.
    static Config load();
    // Reads `path`. A missing file is replaced by the commented default file and the defaults
    // are returned. A file that exists but cannot be read as UTF-8 is moved aside to
    // path + ".damaged" (so nothing of it is lost) before the default file takes its place.
    static Config load(const std::string& path, std::string_view home);

    // Applies one KEY=VALUE pair with the key's parse rule; unknown keys and bad values change
    // nothing.
    void apply(std::string_view key, std::string_view value, std::string_view home);

    // The voice gate local decoding uses: lowered in whisper mode and call mode.
    double effectiveVadThreshold() const;

    bool operator==(const Config&) const = default;
};

// The text of the commented default file.
std::string defaultConfigText(std::string_view home);

// Every key Config understands, in field order.
std::span<const std::string_view> configKeys();

// Sets KEY=VALUE in the file at `path`: every line starting with "KEY=" is replaced, or the line
// is appended; comments, blank lines and order survive. Line breaks in the value become blanks,
// so a value can never add or change another key. Refuses (false) a key that is empty or holds
// "=" or a line break, and a file that exists but cannot be read as UTF-8, which it would
// otherwise wipe. The file ends up 0600.
bool writeConfigValue(const std::string& path, std::string_view key, std::string_view value);
// The same on the process's configuration file.
bool writeConfigValue(std::string_view key, std::string_view value);

// Shortest decimal form that keeps a fractional part: 0.3 → "0.3", 2 → "2.0".
std::string formatDecimal(double value);

} // namespace vak
