#include "foundation/deliver_mode.h"

#include "base/unicode.h"

#include <algorithm>
#include <string>

namespace vak {

namespace {

constexpr DeliverModeInfo kModes[] = {
    {DeliverMode::ask, "ask", "Ask", "Asks you which mode to use after you stop.", 0, 0, ""},
    {DeliverMode::summarize, "summarize", "Summarize",
     "Restructures a long ramble into a clear, organized document.\n\n"
     "You say: \"ok so the login thing, tokens expire after an hour but the refresh isn't "
     "firing, and also we should log it\"\n\n"
     "You get: a structured writeup with each point unpacked and the reasoning kept.",
     2, 1, "Summarize for an AI tool"},
    {DeliverMode::raw, "normal", "Normal",
     "Pastes exactly what you said, cleaned of filler.\n\n"
     "You say: \"um so the, the button is broken\"\n\n"
     "You get: \"So the button is broken.\"",
     3, 3, "Leave my words alone"},
    {DeliverMode::professional, "professional", "Professional",
     "Polished prose ready to send as a text or email.\n\n"
     "You say: \"tell mike cant make it tuesday, maybe thursday, ask him\"\n\n"
     "You get: \"Hi Mike, I can't make Tuesday. Would Thursday work for you?\"",
     1, 2, "Clean it up professionally"},
    {DeliverMode::agent, "agent", "AI Agent",
     "Turns a rambling task description into a brief for a coding agent.\n\n"
     "You say: \"fix the auth thing where the token expires and it doesn't refresh, don't touch "
     "the session code\"\n\n"
     "You get: Goal, Constraints, Done when, and Context sections, with no invented "
     "requirements.",
     4, 4, "Write a brief for a coding agent"},
    {DeliverMode::expand, "expand", "AI Extend",
     "Takes one short sentence and fills in the detail an AI needs.\n\n"
     "You say: \"add rate limiting to the API\"\n\n"
     "You get: the same request with edge cases, limits, and what done looks like spelled out. "
     "Anything it can't infer is listed as an open question instead of guessed.",
     5, 5, "Fill in the detail (AI Extend)"},
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
