#include "base/json.h"

#include <nlohmann/json.hpp>

namespace vak {

std::optional<std::string> jsonStringMember(std::string_view json, std::string_view key) {
    const auto parsed = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    const auto member = parsed.find(key);
    if (member == parsed.end() || !member->is_string()) return std::nullopt;
    return member->get<std::string>();
}

} // namespace vak
