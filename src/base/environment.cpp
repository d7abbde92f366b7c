#include "base/environment.h"

#include <array>
#include <cstdlib>

namespace vak {

namespace {

constexpr auto kVariables = std::to_array<EnvVariable>({
#define ENVIRONMENT(id, name, kind, reader, meaning)                                               \
    {Env::id, name, EnvKind::kind, reader, meaning},
#include "base/environment.def"
#undef ENVIRONMENT
});

} // namespace

std::span<const EnvVariable> environmentVariables() {
    return kVariables;
}

std::string_view envName(Env variable) {
    return kVariables[static_cast<std::size_t>(variable)].name;
}

std::optional<std::string> envValue(Env variable) {
    const char* value = std::getenv(std::string(envName(variable)).c_str());
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

std::string envValueOr(Env variable, std::string_view fallback) {
    return envValue(variable).value_or(std::string(fallback));
}

std::string environmentHelpText() {
    std::string text;
    for (const auto& variable : kVariables) {
        if (variable.kind != EnvKind::Option) continue;
        std::string meaning(variable.meaning);
        std::erase(meaning, '`');
        text += "  " + std::string(variable.name) + "\n      " + meaning + "\n";
    }
    return text;
}

} // namespace vak
