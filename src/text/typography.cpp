#include "text/typography.h"

#include "base/regex.h"
#include "base/unicode.h"

namespace vak {

namespace {

bool isCodeApp(std::string_view bundleId, std::string_view codeApps) {
    const std::string id = toLower(bundleId);
    std::size_t pos = 0;
    while (pos <= codeApps.size()) {
        const std::size_t comma = codeApps.find(',', pos);
        const std::size_t end = comma == std::string_view::npos ? codeApps.size() : comma;
        // Entries match as the session's application test reads them: trimmed, any case.
        const std::string entry = toLower(trim(codeApps.substr(pos, end - pos), CharClass::Blanks));
        if (!entry.empty() && id.find(entry) != std::string::npos) return true;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    return false;
}

std::string replaceAllOf(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t pos = text.find(from); pos != std::string_view::npos;
         pos = text.find(from, copied)) {
        out.append(text.substr(copied, pos - copied));
        out.append(to);
        copied = pos + from.size();
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace

std::string smartTypography(std::string_view text, std::string_view bundleId,
                            std::string_view codeApps) {
    if (isCodeApp(bundleId, codeApps)) return std::string(text);
    if (text.find('`') != std::string_view::npos) return std::string(text);
    static const Regex apostrophe("(?<=[A-Za-z])'(?=[A-Za-z])");
    return replaceAllOf(apostrophe.replace(text, "\u2019"), "...", "\u2026");
}

} // namespace vak
