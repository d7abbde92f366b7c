#pragma once

#include <string>
#include <string_view>

#include <unicode/unistr.h>

namespace vak {

// UTF-8 ⇄ ICU strings. Ill-formed input bytes become U+FFFD.
inline icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

inline std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace vak
