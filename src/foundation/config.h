#pragma once

#include "foundation/deliver_mode.h"
#include "foundation/talk_mode.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace vak {

// How a configuration value is read; every rule also fixes the type of its field.
enum class SettingRule {
    Number,            // double: a decimal number, clamped to the row's range
    Integer,           // int: a number truncated toward zero, clamped
    Boolean,           // bool: "1" or "true" (any case); everything else is false
    Text,              // string as written, empty allowed
    NonEmptyText,      // string; empty keeps the previous value
    LowerNonEmptyText, // string lower-cased; empty keeps the previous value
    Path,              // string with a leading "~" expanded to the home folder
    Mode,              // DeliverMode by name, any case, "raw" for normal
    KeyCode,           // one of the eight modifier key codes
    ModelName,         // string: a model's name ("base.en"), lower case; letters, digits, ".", "_",
                       // "-" only, so it can never name a path; anything else keeps the value
    TalkMode,          // TalkMode by name, any case
};

enum class SettingPlacement { InDefaultFile, ByHand };

// No upper (or lower) bound for a Number or Integer row.
inline constexpr double kNoLimit = 1e300;

// One parsed value, of the type its rule gives.
using SettingValue =
    std::variant<double, int, bool, std::string, DeliverMode, std::uint16_t, TalkMode>;

// Reads `text` by `rule`; nothing when the rule keeps the field as it was. A Path starting with
// "~" is expanded with `home`.
std::optional<SettingValue> readSetting(SettingRule rule, std::string_view text, double low,
                                        double high, std::string_view home);

namespace config_detail {

template <SettingRule R>
struct FieldType {
    using type = std::string;
};
template <>
struct FieldType<SettingRule::Number> {
    using type = double;
};
template <>
struct FieldType<SettingRule::Integer> {
    using type = int;
};
template <>
struct FieldType<SettingRule::Boolean> {
    using type = bool;
};
template <>
struct FieldType<SettingRule::Mode> {
    using type = DeliverMode;
};
template <>
struct FieldType<SettingRule::KeyCode> {
    using type = std::uint16_t;
};
template <>
struct FieldType<SettingRule::TalkMode> {
    using type = TalkMode;
};
template <SettingRule R>
using Field = typename FieldType<R>::type;

// A field's built-in value: its default text read by its rule (paths keep their "~").
template <SettingRule R>
Field<R> initial(std::string_view text, double low, double high) {
    const auto value = readSetting(R, text, low, high, "~");
    return value ? std::get<Field<R>>(*value) : Field<R>{};
}

} // namespace config_detail

// Everything tunable, from ~/.dictation/config (KEY=VALUE lines), one field per row of
// config_keys.def, in its order. Read once at start; a change to the file takes effect at the
// next start. Config{} holds the built-in values with paths still starting "~/"; defaults(home)
// expands them.
struct Config {
#define SETTING(rule, field, key, text, low, high, placement, comment, meaning)                    \
    config_detail::Field<SettingRule::rule> field =                                                \
        config_detail::initial<SettingRule::rule>(text, low, high);
#include "foundation/config_keys.def"
#undef SETTING

    // The built-in defaults, paths expanded under `home`.
    static Config defaults(std::string_view home);
    // Reads `path` (a leading byte-order mark ignored). A missing file is replaced by the
    // commented default file and the defaults are returned. A file that is not UTF-8 text is kept
    // aside under a name no earlier copy holds (path + ".damaged", ".damaged-2", …) before the
    // default file takes its place; one that cannot be opened at all (permissions, a FIFO, a
    // folder) is left as it is, with one log line, and the defaults apply.
    static Config load(const std::string& path, std::string_view home);

    // Applies one KEY=VALUE pair with the key's rule; unknown keys and bad values change
    // nothing.
    void apply(std::string_view key, std::string_view value, std::string_view home);

    // The voice gate local decoding uses: lowered in whisper mode and call mode.
    double effectiveVadThreshold() const;

    bool operator==(const Config&) const = default;
};

// What the key table says of one key, for the default file, the help and the README.
struct ConfigKey {
    std::string_view key;
    std::string_view defaultText; // as written in the file; paths start "~/"
    SettingPlacement placement;
    std::string_view fileComment; // lines separated by "\n"; empty: none
    std::string_view meaning;
};

// Every key Config understands, in the table's order.
std::span<const ConfigKey> configKeys();

// The text of the commented default file.
std::string defaultConfigText(std::string_view home);

// "  KEY                  default  meaning" lines for --help.
std::string configHelpText();

// Sets KEY=VALUE in the file at `path`: every line that loading reads as KEY (blanks around it
// allowed) is replaced, or the line is appended; comments, blank lines, order, CRLF line ends and
// a byte-order mark survive. Line breaks in the value become blanks, so a value can never add or
// change another key. Refuses (false) a key that is empty or holds "=", a line break or outer
// blanks, and a file that exists but cannot be read as UTF-8, which it would otherwise wipe. The
// file is replaced as the user's files are (a dotfile link stays a link; one to what is not the
// user's regular file is never written, with one log line); it ends up 0600.
bool writeConfigValue(const std::string& path, std::string_view key, std::string_view value);

// Shortest decimal form that keeps a fractional part: 0.3 → "0.3", 2 → "2.0".
std::string formatDecimal(double value);

} // namespace vak
