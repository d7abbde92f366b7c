#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vak {

// The environment variables the program reads: one table (environment.def).
enum class Env {
#define ENVIRONMENT(id, name, kind, reader, meaning) id,
#include "base/environment.def"
#undef ENVIRONMENT
};

enum class EnvKind { Option, Session };

struct EnvVariable {
    Env id;
    std::string_view name;
    EnvKind kind;
    std::string_view reader;
    std::string_view meaning;
};

std::span<const EnvVariable> environmentVariables();
std::string_view envName(Env variable);

// The variable's value; nothing when it is unset or empty (an empty value sets nothing here).
std::optional<std::string> envValue(Env variable);
// The value, or the fallback when nothing is set.
std::string envValueOr(Env variable, std::string_view fallback);

// The Option variables as --help lists them.
std::string environmentHelpText();

} // namespace vak
