#include "text/mode_rules.h"

#include "base/files.h"
#include "base/unicode.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vak {

namespace {

constexpr std::string_view kHeader =
    "# Your mode keywords. One per line: section: phrase = weight\n"
    "# Sections: goal, constraint, done, context. Managed from Settings.\n";

// What surrounds a value: blanks, and the carriage return of a Windows line ending.
constexpr std::u32string_view kBlanksAndCr = U" \t\r";

// A plain decimal number ("3", "2.5", "-1", "+4", "1e2"); not "inf", "nan" or hexadecimal,
// which would make every score meaningless.
std::optional<double> parseWeight(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string wholeNumber(double weight) {
    if (!std::isfinite(weight)) weight = 2;
    double whole = std::trunc(weight);
    if (whole == 0) whole = 0; // no "-0"
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", whole);
    return buffer;
}

std::string phraseForFile(std::string_view phrase) {
    std::string clean = sanitizeUtf8(phrase);
    for (char& c : clean) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return trimChars(clean, kBlanksAndCr);
}

} // namespace

std::string_view sectionName(CueSection section) {
    return CUE_SECTION_NAMES[static_cast<std::size_t>(section)];
}

std::optional<CueSection> sectionFromName(std::string_view name) {
    for (std::size_t i = 0; i < CUE_SECTION_NAMES.size(); ++i) {
        if (CUE_SECTION_NAMES[i] == name) return static_cast<CueSection>(i);
    }
    return std::nullopt;
}

std::vector<ModeRule> parseModeRules(std::string_view content) {
    const std::string text = isValidUtf8(content) ? std::string(content) : sanitizeUtf8(content);
    std::vector<ModeRule> rules;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t newline = text.find('\n', pos);
        const std::size_t end = newline == std::string::npos ? text.size() : newline;
        const std::string entry =
            trimChars(std::string_view(text).substr(pos, end - pos), kBlanksAndCr);
        const std::string_view line = entry;
        pos = end + 1;
        if (line.empty() || line.front() == '#') continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const auto section =
            sectionFromName(toLower(trimChars(line.substr(0, colon), kBlanksAndCr)));
        if (!section) continue;

        ModeRule rule{*section, {}, 2};
        const std::string afterColon = trimChars(line.substr(colon + 1), kBlanksAndCr);
        const std::string_view rest = afterColon;
        const std::size_t equals = rest.rfind('=');
        const auto weight = equals == std::string_view::npos
                                ? std::nullopt
                                : parseWeight(trimChars(rest.substr(equals + 1), kBlanksAndCr));
        if (weight) {
            rule.phrase = trimChars(rest.substr(0, equals), kBlanksAndCr);
            rule.weight = *weight;
        } else {
            rule.phrase = rest;
        }
        if (!rule.phrase.empty()) rules.push_back(std::move(rule));
    }
    return rules;
}

std::vector<ModeRule> loadCustomRules(const std::string& path) {
    const auto bytes = readUserBytes(path);
    return bytes ? parseModeRules(*bytes) : std::vector<ModeRule>{};
}

std::string modeRulesText(const std::vector<ModeRule>& rules) {
    std::string text(kHeader);
    for (const ModeRule& rule : rules) {
        const std::string phrase = phraseForFile(rule.phrase);
        if (phrase.empty()) continue;
        text += std::string(sectionName(rule.section)) + ": " + phrase + " = " +
                wholeNumber(rule.weight) + "\n";
    }
    return text;
}

bool saveCustomRules(const std::vector<ModeRule>& rules, const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash));
    return saveUserFile(path, modeRulesText(rules));
}

} // namespace vak
