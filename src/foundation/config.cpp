#include "foundation/config.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

namespace vak {

namespace {

bool parseBool(std::string_view value) {
    return value == "1" || toLower(value) == "true";
}

// A decimal (or 0x hexadecimal) floating-point number filling the whole value, with an optional
// sign. Infinities and NaN are refused: no setting means anything with them.
std::optional<double> parseNumber(std::string_view value) {
    std::string_view digits = value;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') return std::nullopt;
    auto format = std::chars_format::general;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        format = std::chars_format::hex;
    }
    double parsed = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), parsed, format);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(parsed)) {
        return std::nullopt;
    }
    return negative ? -parsed : parsed;
}

std::optional<std::int64_t> parseTruncatedInteger(std::string_view value) {
    const auto number = parseNumber(value);
    if (!number) return std::nullopt;
    const double truncated = std::trunc(*number);
    // Outside the 64-bit range the value keeps what it had.
    if (truncated < -9.2e18 || truncated > 9.2e18) return std::nullopt;
    return static_cast<std::int64_t>(truncated);
}

std::optional<std::uint16_t> parseKeyCode(std::string_view value) {
    if (!value.empty() && value.front() == '+') value.remove_prefix(1);
    if (value.empty()) return std::nullopt;
    unsigned parsed = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (error != std::errc() || end != value.data() + value.size() || parsed > 0xFFFF) {
        return std::nullopt;
    }
    // Only the eight modifier keys can be trigger keys; Caps Lock (57) cannot.
    constexpr std::array<unsigned, 8> modifiers = {54, 55, 56, 58, 59, 60, 61, 62};
    for (unsigned code : modifiers) {
        if (code == parsed) return static_cast<std::uint16_t>(parsed);
    }
    return std::nullopt;
}

std::optional<std::string> parseModeName(std::string_view value) {
    const std::string lowered = toLower(value);
    if (lowered == "raw") return std::string("normal");
    for (std::string_view mode :
         {"summarize", "professional", "normal", "ask", "agent", "expand"}) {
        if (lowered == mode) return lowered;
    }
    return std::nullopt;
}

constexpr double kNoLimit = 1e300;

enum class Rule {
    Number,
    Integer,
    Boolean,
    Text,
    NonEmptyText,
    LowerNonEmptyText,
    Path,
    Mode,
    KeyCode
};

using Field = std::variant<double Config::*, int Config::*, bool Config::*, std::string Config::*,
                           std::uint16_t Config::*>;

struct KeyRule {
    std::string_view key;
    Rule rule;
    Field field;
    double low = 0; // clamp range of numbers
    double high = 0;
};

// In the field order of Config.
const std::array<KeyRule, 33> kRules = {{
    {"VAD_THRESHOLD", Rule::Number, &Config::vadThreshold, 0, 1},
    {"MAX_RECORD_SECONDS", Rule::Number, &Config::maxRecordSeconds, 10, kNoLimit},
    {"LIVE_CAPTIONS", Rule::Boolean, &Config::liveCaptions},
    {"CAPTION_INTERVAL", Rule::Number, &Config::captionInterval, 0.5, kNoLimit},
    {"CAPTION_WINDOW", Rule::Number, &Config::captionWindow, 2, 30},
    {"CAPTION_MODEL", Rule::Path, &Config::captionModel},
    {"INPUT_DEVICE", Rule::NonEmptyText, &Config::inputDevice},
    {"PREPROCESS", Rule::Boolean, &Config::preprocess},
    {"CALL_MODE", Rule::Boolean, &Config::callMode},
    {"CHUNK_SECONDS", Rule::Number, &Config::chunkSeconds, 0, 600},
    {"SPECULATIVE", Rule::Boolean, &Config::speculative},
    {"SERVER", Rule::Boolean, &Config::useServer},
    {"POLISH", Rule::Boolean, &Config::polish},
    {"POLISH_APPS", Rule::NonEmptyText, &Config::polishApps},
    {"POLISH_MIN_WORDS", Rule::Integer, &Config::polishMinWords, 1, 1e9},
    {"POLISH_KEY", Rule::Text, &Config::polishKey},
    {"POLISH_ASK", Rule::Boolean, &Config::polishAsk},
    {"POLISH_ASK_TIMEOUT", Rule::Number, &Config::polishAskTimeout, 5, kNoLimit},
    {"POLISH_MODEL", Rule::NonEmptyText, &Config::polishModel},
    {"LANGUAGE", Rule::LowerNonEmptyText, &Config::language},
    {"WHISPER_MODE", Rule::Boolean, &Config::whisperMode},
    {"PRO_APPS", Rule::Text, &Config::proApps},
    {"DEFAULT_MODE", Rule::Mode, &Config::defaultMode},
    {"SELECTED_MODE", Rule::Mode, &Config::selectedMode},
    {"POLISH_PROXY_URL", Rule::NonEmptyText, &Config::polishProxyUrl},
    {"CLOUD", Rule::Boolean, &Config::cloud},
    {"TRANSCRIBE_URL", Rule::NonEmptyText, &Config::transcribeUrl},
    {"HOTKEY", Rule::KeyCode, &Config::hotkey},
    {"PRODUCER_KEY", Rule::KeyCode, &Config::producerKey},
    {"PRIVACY_MODE", Rule::Boolean, &Config::privacyMode},
    {"HISTORY_DAYS", Rule::Integer, &Config::historyDays, 0, 365},
    {"KEEP_LAST_CLIP", Rule::Boolean, &Config::keepLastClip},
    {"STYLE", Rule::Text, &Config::style},
}};

// Sets one field by its rule; a value the rule refuses leaves the field as it was.
void applyRule(Config& config, const KeyRule& r, std::string_view value, std::string_view home) {
    switch (r.rule) {
    case Rule::Number:
        if (const auto number = parseNumber(value)) {
            config.*std::get<double Config::*>(r.field) = std::clamp(*number, r.low, r.high);
        }
        break;
    case Rule::Integer:
        if (const auto number = parseTruncatedInteger(value)) {
            const auto clamped = std::clamp(*number, static_cast<std::int64_t>(r.low),
                                            static_cast<std::int64_t>(r.high));
            config.*std::get<int Config::*>(r.field) = static_cast<int>(clamped);
        }
        break;
    case Rule::Boolean:
        config.*std::get<bool Config::*>(r.field) = parseBool(value);
        break;
    case Rule::Text:
        config.*std::get<std::string Config::*>(r.field) = std::string(value);
        break;
    case Rule::NonEmptyText:
        if (!value.empty()) config.*std::get<std::string Config::*>(r.field) = std::string(value);
        break;
    case Rule::LowerNonEmptyText:
        if (!value.empty()) config.*std::get<std::string Config::*>(r.field) = toLower(value);
        break;
    case Rule::Path:
        config.*std::get<std::string Config::*>(r.field) = expandHome(value, home);
        break;
    case Rule::Mode:
        if (auto mode = parseModeName(value)) {
            config.*std::get<std::string Config::*>(r.field) = std::move(*mode);
        }
        break;
    case Rule::KeyCode:
        if (const auto code = parseKeyCode(value)) {
            config.*std::get<std::uint16_t Config::*>(r.field) = *code;
        }
        break;
    }
}

const std::array<std::string_view, 33> kKeys = [] {
    std::array<std::string_view, 33> keys{};
    for (std::size_t i = 0; i < kRules.size(); ++i)
        keys[i] = kRules[i].key;
    return keys;
}();

std::string formatWhole(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::trunc(value),
                                            std::chars_format::fixed, 0);
    return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

} // namespace

std::span<const std::string_view> configKeys() {
    return kKeys;
}

std::string formatDecimal(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) return "0.0";
    std::string text(buffer, end);
    if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
    return text;
}

Config Config::defaults(std::string_view home) {
    Config config;
    config.captionModel = std::string(home) + "/.whisper-models/ggml-base.en-q5_1.bin";
    return config;
}

void Config::apply(std::string_view key, std::string_view value, std::string_view home) {
    for (const auto& rule : kRules) {
        if (rule.key == key) {
            applyRule(*this, rule, value, home);
            return;
        }
    }
}

double Config::effectiveVadThreshold() const {
    if (whisperMode) return std::min(vadThreshold, 0.15);
    if (callMode) return std::min(vadThreshold, 0.2);
    return vadThreshold;
}

std::string defaultConfigText(std::string_view home) {
    const Config d = Config::defaults(home);
    const std::vector<std::string> lines = {
        "# vak-dictate runtime config — edit then run `vak restart` (no rebuild needed)",
        "VAD_THRESHOLD=" + formatDecimal(d.vadThreshold),
        "MAX_RECORD_SECONDS=" + formatWhole(d.maxRecordSeconds),
        "LIVE_CAPTIONS=1",
        "CAPTION_INTERVAL=" + formatDecimal(d.captionInterval),
        "CAPTION_WINDOW=" + formatWhole(d.captionWindow),
        "CAPTION_MODEL=" + d.captionModel,
        "# builtin | default | <substring of a device name>",
        "INPUT_DEVICE=builtin",
        "# Pre-decode denoise + dynamic-normalize via ffmpeg (recovers quiet words)",
        "PREPROCESS=1",
        "# Phone/VoIP dictation: aggressive denoise + lower VAD gate. Toggle: `vak call`",
        "CALL_MODE=0",
        "# Rolling transcription: pre-transcribe finished audio every ~N seconds while",
        "# still recording, so long dictations paste in seconds. <20 disables.",
        "CHUNK_SECONDS=30",
        "# Speculative tail: decode during the pause before the stop tap. 0 disables.",
        "SPECULATIVE=1",
        "# Resident whisper-server for near-instant pastes (auto-fallback to CLI). 0 disables.",
        "SERVER=1",
        "# AI prompt-polish: restructure dictation into a precise prompt when the",
        "# frontmost app matches POLISH_APPS. Say \"verbatim\" first to skip once.",
        "POLISH=1",
        "POLISH_APPS=terminal,iterm,claude,code,cursor,warp",
        "POLISH_MIN_WORDS=12",
        "# Optional sk-ant key for the fast direct-API polish path (else `claude` CLI)",
        "POLISH_KEY=",
        "# Ask before polishing: Summarize / Keep-the-Same popup after each qualifying",
        "# dictation. Unanswered panels paste the raw transcript after the timeout.",
        "POLISH_ASK=1",
        "POLISH_ASK_TIMEOUT=30",
        "# Claude model for the Summarize rewrite (claude-haiku-4-5 = faster/lighter)",
        "POLISH_MODEL=claude-sonnet-5",
        "# Privacy mode: your words are never written to disk. 0 keeps an",
        "# encrypted history instead, unlocked by a key held in your Keychain.",
        "PRIVACY_MODE=1",
        "# Anything retained is deleted after this many days. 0 keeps nothing.",
        "HISTORY_DAYS=7",
        "# Keep the audio of the last dictation on disk. Off by default.",
        "KEEP_LAST_CLIP=0",
        "# Decode language: en, es, ... or auto (captions stay English)",
        "LANGUAGE=en",
        "# Whisper mode: quiet-voice dictation (strong gain + low VAD gate). Toggle: vak whisper",
        "WHISPER_MODE=0",
        "# Auto-Professional apps (bundle-id substrings). Empty disables.",
        "PRO_APPS=mobilesms,messages,mail,outlook,whatsapp,telegram,slack,discord",
        "# What a stop with NO chip clicked delivers: summarize | professional |",
        "# normal | ask (ask restores the old popup flow)",
        "DEFAULT_MODE=summarize",
        "# Remembered mode: whichever mode you last picked on the recording pill.",
        "# Written automatically when you click one; survives restarts.",
        "SELECTED_MODE=ask",
    };
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

Config Config::load() {
    const auto& values = processValues();
    return load(values.CONFIG_PATH, values.HOME);
}

Config Config::load(const std::string& path, std::string_view home) {
    Config config = defaults(home);
    const auto text = readTextFile(path);
    if (!text) {
        if (pathExists(path)) {
            // Never write over a file the user may still want: keep it beside the new one.
            const std::string aside = path + ".damaged";
            if (std::rename(path.c_str(), aside.c_str()) != 0) return config;
            log(LogLevel::warning, "config could not be read as UTF-8 text — kept it as " + aside +
                                       " and wrote a fresh default file");
        }
        writeFileAtomic(path, defaultConfigText(home), 0600);
        return config;
    }

    std::string_view rest = *text;
    while (!rest.empty()) {
        const auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        // A file saved with CRLF line ends must not carry "\r" into every value.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string entry = trim(line, CharClass::Blanks);
        if (entry.empty() || entry.front() == '#') continue;
        const auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        const std::string_view view = entry;
        config.apply(trim(view.substr(0, eq), CharClass::Blanks),
                     trim(view.substr(eq + 1), CharClass::Blanks), home);
    }
    return config;
}

bool writeConfigValue(const std::string& path, std::string_view key, std::string_view value) {
    if (key.empty() || key.find_first_of("=\n\r") != std::string_view::npos) return false;

    std::string safeValue;
    safeValue.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            safeValue += ' ';
        } else {
            safeValue += value[i];
        }
    }

    std::string text;
    if (auto existing = readTextFile(path)) {
        text = std::move(*existing);
    } else if (pathExists(path)) {
        return false;
    }

    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto newline = text.find('\n', start);
        lines.push_back(text.substr(start, newline - start));
        if (newline == std::string::npos) break;
        start = newline + 1;
    }
    const std::string prefix = std::string(key) + "=";
    const std::string replacement = prefix + safeValue;
    bool replaced = false;
    for (auto& line : lines) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            line = replacement;
            replaced = true;
        }
    }
    if (!replaced) lines.push_back(replacement);

    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += '\n';
        joined += lines[i];
    }
    const bool written = writeFileAtomic(path, joined, 0600);
    setPermissions(path, 0600);
    return written;
}

bool writeConfigValue(std::string_view key, std::string_view value) {
    return writeConfigValue(processValues().CONFIG_PATH, key, value);
}

} // namespace vak
