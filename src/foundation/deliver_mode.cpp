#include "foundation/deliver_mode.h"

#include "base/unicode.h"

#include <algorithm>
#include <string>

namespace vak {

namespace {

constexpr DeliverModeInfo kModes[] = {
#define MODE(id, tag, value, label, example, pill, settings, title)                                \
    {DeliverMode::id, value, label, example, pill, settings, title},
#include "foundation/deliver_modes.def"
#undef MODE
};

const DeliverModeInfo* find(auto matches) {
    for (const auto& info : kModes) {
        if (matches(info)) return &info;
    }
    return nullptr;
}

std::vector<DeliverMode> ordered(int DeliverModeInfo::*position) {
    std::vector<const DeliverModeInfo*> offered;
    for (const auto& info : kModes) {
        if (info.*position > 0) offered.push_back(&info);
    }
    std::sort(offered.begin(), offered.end(),
              [position](auto a, auto b) { return a->*position < b->*position; });
    std::vector<DeliverMode> modes;
    for (const auto* info : offered)
        modes.push_back(info->mode);
    return modes;
}

} // namespace

std::span<const DeliverModeInfo> deliverModes() {
    return kModes;
}

const DeliverModeInfo& modeInfo(DeliverMode mode) {
    const auto* info = find([mode](const DeliverModeInfo& row) { return row.mode == mode; });
    return info != nullptr ? *info : kModes[0];
}

int tag(DeliverMode mode) {
    return static_cast<int>(mode);
}

std::string_view configValue(DeliverMode mode) {
    return modeInfo(mode).configValue;
}

std::string_view label(DeliverMode mode) {
    return modeInfo(mode).label;
}

std::string_view example(DeliverMode mode) {
    return modeInfo(mode).example;
}

namespace deliver_mode {

std::vector<DeliverMode> pickable() {
    return ordered(&DeliverModeInfo::pillPosition);
}

std::vector<DeliverMode> settingsModes() {
    return ordered(&DeliverModeInfo::settingsPosition);
}

std::optional<DeliverMode> fromName(std::string_view name) {
    const std::string lowered = toLower(name);
    if (lowered == "raw") return DeliverMode::raw;
    const auto* info = find([&](const DeliverModeInfo& row) { return row.configValue == lowered; });
    return info != nullptr ? std::optional(info->mode) : std::nullopt;
}

std::optional<DeliverMode> fromConfigValue(std::string_view value) {
    const auto* info = find([value](const DeliverModeInfo& row) {
        return row.mode != DeliverMode::ask && row.configValue == value;
    });
    return info != nullptr ? std::optional(info->mode) : std::nullopt;
}

std::optional<DeliverMode> fromLabel(std::string_view title) {
    const auto* info = find([title](const DeliverModeInfo& row) { return row.label == title; });
    return info != nullptr ? std::optional(info->mode) : std::nullopt;
}

} // namespace deliver_mode

} // namespace vak
