#include "foundation/config.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/trigger_keys.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include <unistd.h>

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
    for (const TriggerKey& key : TRIGGER_KEYS) {
        if (key.code == parsed) return key.code;
    }
    return std::nullopt;
}

// A row of config_keys.def as the loader uses it.
struct KeyRow {
    ConfigKey info;
    SettingRule rule;
    double low;
    double high;
    void (*set)(Config&, SettingValue&&);
};

const KeyRow kRows[] = {
#define SETTING(rule, field, key, text, low, high, placement, comment, meaning)                    \
    {{key, text, SettingPlacement::placement, comment, meaning},                                   \
     SettingRule::rule,                                                                            \
     low,                                                                                          \
     high,                                                                                         \
     [](Config& config, SettingValue&& value) {                                                    \
         config.field = std::get<config_detail::Field<SettingRule::rule>>(std::move(value));       \
     }},
#include "foundation/config_keys.def"
#undef SETTING
};

const auto kKeys = [] {
    std::array<ConfigKey, std::size(kRows)> keys{};
    for (std::size_t i = 0; i < std::size(kRows); ++i)
        keys[i] = kRows[i].info;
    return keys;
}();

} // namespace

std::optional<SettingValue> readSetting(SettingRule rule, std::string_view text, double low,
                                        double high, std::string_view home) {
    switch (rule) {
    case SettingRule::Number:
        if (const auto number = parseNumber(text)) return std::clamp(*number, low, high);
        return std::nullopt;
    case SettingRule::Integer:
        if (const auto number = parseTruncatedInteger(text)) {
            const auto clamped =
                std::clamp(*number, static_cast<std::int64_t>(std::max(low, -9e18)),
                           static_cast<std::int64_t>(std::min(high, 9e18)));
            return static_cast<int>(std::clamp<std::int64_t>(clamped, INT32_MIN, INT32_MAX));
        }
        return std::nullopt;
    case SettingRule::Boolean:
        return parseBool(text);
    case SettingRule::Text:
        return std::string(text);
    case SettingRule::NonEmptyText:
        if (text.empty()) return std::nullopt;
        return std::string(text);
    case SettingRule::LowerNonEmptyText:
        if (text.empty()) return std::nullopt;
        return toLower(text);
    case SettingRule::Path:
        return expandHome(text, home);
    case SettingRule::Mode:
        if (const auto mode = deliver_mode::fromName(text)) return *mode;
        return std::nullopt;
    case SettingRule::KeyCode:
        if (const auto code = parseKeyCode(text)) return *code;
        return std::nullopt;
    case SettingRule::ModelName: {
        const std::string name = toLower(text);
        const bool plain =
            !name.empty() && name.size() <= 64 && name.front() != '.' &&
            name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789._-") == std::string::npos;
        if (!plain) return std::nullopt;
        return name;
    }
    case SettingRule::TalkMode:
        if (const auto mode = talkModeFromName(text)) return *mode;
        return std::nullopt;
    }
    return std::nullopt;
}

std::span<const ConfigKey> configKeys() {
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
    for (const auto& row : kRows) {
        if (row.rule == SettingRule::Path) config.apply(row.info.key, row.info.defaultText, home);
    }
    return config;
}

void Config::apply(std::string_view key, std::string_view value, std::string_view home) {
    for (const auto& row : kRows) {
        if (row.info.key != key) continue;
        if (auto parsed = readSetting(row.rule, value, row.low, row.high, home))
            row.set(*this, std::move(*parsed));
        return;
    }
}

double Config::effectiveVadThreshold() const {
    if (whisperMode) return std::min(vadThreshold, 0.15);
    if (callMode) return std::min(vadThreshold, 0.2);
    return vadThreshold;
}

std::string defaultConfigText(std::string_view home) {
    std::string text =
        "# vak-dictate runtime config — edit then run `vak restart` (no rebuild needed)";
    for (const auto& row : kRows) {
        const ConfigKey& key = row.info;
        if (key.placement != SettingPlacement::InDefaultFile) continue;
        for (std::string_view rest = key.fileComment; !rest.empty();) {
            const auto newline = rest.find('\n');
            text += "\n# " + std::string(rest.substr(0, newline));
            rest =
                newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        }
        text += "\n" + std::string(key.key) + "=";
        text += row.rule == SettingRule::Path ? expandHome(key.defaultText, home)
                                              : std::string(key.defaultText);
    }
    return text;
}

std::string configHelpText() {
    std::string text;
    for (const auto& key : kKeys) {
        std::string line = "  " + std::string(key.key);
        line.resize(std::max<std::size_t>(line.size() + 2, 24), ' ');
        line += key.defaultText.empty() ? "(empty)" : std::string(key.defaultText);
        text += line + "\n";
        std::string meaning(key.meaning);
        std::erase(meaning, '`');
        text += "      " + meaning + "\n";
    }
    return text;
}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One line of the file as loading reads it: blanks around the key and the value, and a "\r" of
// a file saved with CRLF line ends, do not count; comments and lines without "=" hold nothing.
struct Entry {
    std::string key;
    std::string value;
};

std::optional<Entry> entryOf(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string entry = trim(line, CharClass::Blanks);
    if (entry.empty() || entry.front() == '#') return std::nullopt;
    const auto eq = entry.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const std::string_view view = entry;
    return Entry{trim(view.substr(0, eq), CharClass::Blanks),
                 trim(view.substr(eq + 1), CharClass::Blanks)};
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    for (;;) {
        const auto newline = text.find('\n');
        lines.push_back(text.substr(0, newline));
        if (newline == std::string_view::npos) return lines;
        text.remove_prefix(newline + 1);
    }
}

// Moves a damaged file out of the way under a name no earlier copy holds: path.damaged, then
// path.damaged-2, -3, … Nothing when no such name could be taken.
std::optional<std::string> keepAside(const std::string& path) {
    for (int n = 1; n < 1000; ++n) {
        const std::string aside = path + ".damaged" + (n == 1 ? "" : "-" + std::to_string(n));
        // link() refuses an existing name, so no copy is ever replaced; a link at `path` is
        // itself kept aside, its target untouched.
        if (::link(path.c_str(), aside.c_str()) == 0) {
            if (::unlink(path.c_str()) == 0) return aside;
            ::unlink(aside.c_str());
            return std::nullopt;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

Config Config::load(const std::string& path, std::string_view home) {
    Config config = defaults(home);
    std::string problem;
    const auto bytes = readFileBytes(path, &problem);
    if (!bytes && !problem.empty()) {
        // A file we cannot open (permissions, a FIFO, a folder) is the user's to mend: it is
        // neither replaced nor moved.
        log(LogLevel::warning,
            "config " + path + " " + problem + " — not read, left as it is; the defaults apply");
        return config;
    }
    if (bytes && !isValidUtf8(*bytes)) {
        if (const auto aside = keepAside(path)) {
            log(LogLevel::warning, "config could not be read as UTF-8 text — kept it as " + *aside +
                                       " and wrote a fresh default file");
        } else {
            log(LogLevel::warning, "config " + path +
                                       " could not be read as UTF-8 text and could not be kept "
                                       "aside — left as it is; the defaults apply");
            return config;
        }
    }
    if (!bytes || !isValidUtf8(*bytes)) {
        saveUserFile(path, defaultConfigText(home));
        return config;
    }

    std::string_view text = *bytes;
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    for (const std::string_view line : linesOf(text)) {
        if (const auto entry = entryOf(line)) config.apply(entry->key, entry->value, home);
    }
    return config;
}

bool writeConfigValue(const std::string& path, std::string_view key, std::string_view value) {
    if (key.empty() || key.find_first_of("=\n\r") != std::string_view::npos ||
        trim(key, CharClass::Blanks) != key)
        return false;

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

    std::string problem;
    const auto existing = readFileBytes(path, &problem);
    if (!existing && !problem.empty()) {
        log(LogLevel::warning, "config " + path + " " + problem + " — " + std::string(key) +
                                   " not saved, the file left as it is");
        return false;
    }
    // A file that is not UTF-8 text would be wiped by the rewrite.
    if (existing && !isValidUtf8(*existing)) return false;

    std::string_view text = existing ? std::string_view(*existing) : std::string_view();
    std::string joined;
    if (text.starts_with(kByteOrderMark)) {
        joined += kByteOrderMark;
        text.remove_prefix(kByteOrderMark.size());
    }
    // Every line loading would read as this key gets the value, so the last one, which wins,
    // holds it; a CRLF file keeps its line ends.
    const std::string replacement = std::string(key) + "=" + safeValue;
    bool replaced = false;
    bool first = true;
    for (const std::string_view line : linesOf(text)) {
        if (!first) joined += '\n';
        first = false;
        const auto entry = entryOf(line);
        if (entry && entry->key == key) {
            joined += replacement;
            if (line.ends_with('\r')) joined += '\r';
            replaced = true;
        } else {
            joined += line;
        }
    }
    if (!replaced) {
        if (!joined.empty() && !joined.ends_with('\n') && joined != kByteOrderMark) joined += '\n';
        joined += replacement;
    }
    return saveUserFile(path, joined);
}

} // namespace vak
