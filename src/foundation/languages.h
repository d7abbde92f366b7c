#pragma once

#include <array>
#include <string_view>

namespace vak {

struct Language {
    std::string_view code; // LANGUAGE's value
    std::string_view name;
    bool parakeet; // Parakeet TDT v3 knows it
};

// Every language offered (languages.def), in the settings window's order.
inline constexpr auto kLanguages = std::to_array<Language>({
#define LANGUAGE(code, name, parakeet) {code, name, parakeet},
#include "foundation/languages.def"
#undef LANGUAGE
});

} // namespace vak
