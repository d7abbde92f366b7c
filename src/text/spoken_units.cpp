#include "text/spoken_units.h"

#include "base/environment.h"
#include "base/regex.h"
#include "base/unicode.h"

#include <charconv>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <unicode/numberformatter.h>

namespace vak {

namespace {

struct UnitRules {
    // Not after a digit, comma or period: "1,500 dollars" must not become "1,$500".
    Regex money{R"((?<![\d.,])\b(\d{1,9}) dollars\b)", RegexFlags::CaseInsensitive};
    RegexRule percent{Regex(R"(\b(\d+(?:\.\d+)?) percent\b)"), "$1%"};
    Regex clock{R"(\b(\d{1,2}(?::\d{2})?)\s?(am|pm)\b)", RegexFlags::CaseInsensitive};
};

const UnitRules& unitRules() {
    // Never destroyed: background rewrites may still run while the process exits.
    static const UnitRules* compiled = new UnitRules();
    return *compiled;
}

// Grouped digits in a locale, with a formatter made once per locale name.
std::optional<std::string> groupedNumber(std::int64_t value, const std::string& localeName) {
    using icu::number::LocalizedNumberFormatter;
    static std::mutex mutex;
    static auto* formatters =
        new std::map<std::string, std::shared_ptr<LocalizedNumberFormatter>>();
    std::shared_ptr<LocalizedNumberFormatter> formatter;
    {
        std::lock_guard lock(mutex);
        auto& slot = (*formatters)[localeName];
        if (!slot) {
            icu::Locale locale(localeName.c_str());
            if (locale.isBogus()) locale = icu::Locale("en_US");
            slot = std::make_shared<LocalizedNumberFormatter>(
                icu::number::NumberFormatter::withLocale(locale).precision(
                    icu::number::Precision::integer()));
        }
        formatter = slot;
    }
    // A LocalizedNumberFormatter is immutable and safe to share between threads.
    UErrorCode status = U_ZERO_ERROR;
    const icu::number::FormattedNumber formatted = formatter->formatInt(value, status);
    icu::UnicodeString digits = formatted.toString(status);
    if (U_FAILURE(status)) return std::nullopt;
    std::string out;
    digits.toUTF8String(out);
    return out;
}

} // namespace

std::string numberLocaleName() {
    for (const Env variable : {Env::LocaleAll, Env::LocaleNumeric, Env::Language}) {
        const auto value = envValue(variable);
        if (!value) continue;
        std::string name = *value;
        // "de_DE.UTF-8@euro" → "de_DE"
        name = name.substr(0, name.find_first_of(".@"));
        // The POSIX locale names no grouping of its own; treat it as none set.
        if (name.empty() || name == "C" || name == "POSIX") break;
        return name;
    }
    return "en_US";
}

std::string formatSpokenMoney(std::string_view text) {
    const Regex& money = unitRules().money;
    if (!money.search(text)) return std::string(text);
    const std::string locale = numberLocaleName();
    return money.replaceEach(text, [&](const RegexMatch& match) {
        const std::string digits = match.group(1);
        std::int64_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        // Digits of other scripts match \d but do not parse; such an amount stays as spoken.
        if (error != std::errc() || end != digits.data() + digits.size()) return match.text();
        const auto grouped = groupedNumber(value, locale);
        return grouped ? "$" + *grouped : match.text();
    });
}

std::string formatSpokenUnits(std::string_view text) {
    const UnitRules& r = unitRules();
    std::string out = formatSpokenMoney(text);
    out = r.percent.apply(out);
    return r.clock.replaceEach(out, [](const RegexMatch& match) {
        return match.group(1) + " " + toUpper(match.group(2));
    });
}

} // namespace vak
