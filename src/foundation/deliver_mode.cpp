#include "foundation/deliver_mode.h"

namespace vak {

namespace {

struct ModeText {
    std::string_view configValue;
    std::string_view label;
    std::string_view example;
};

constexpr std::array<ModeText, 6> kModes = {{
    {"ask", "Ask", "Asks you which mode to use after you stop."},
    {"summarize", "Summarize",
     "Restructures a long ramble into a clear, organized document.\n\n"
     "You say: \"ok so the login thing, tokens expire after an hour but the refresh isn't "
     "firing, and also we should log it\"\n\n"
     "You get: a structured writeup with each point unpacked and the reasoning kept."},
    {"normal", "Normal",
     "Pastes exactly what you said, cleaned of filler.\n\n"
     "You say: \"um so the, the button is broken\"\n\n"
     "You get: \"So the button is broken.\""},
    {"professional", "Professional",
     "Polished prose ready to send as a text or email.\n\n"
     "You say: \"tell mike cant make it tuesday, maybe thursday, ask him\"\n\n"
     "You get: \"Hi Mike, I can't make Tuesday. Would Thursday work for you?\""},
    {"agent", "AI Agent",
     "Turns a rambling task description into a brief for a coding agent.\n\n"
     "You say: \"fix the auth thing where the token expires and it doesn't refresh, don't touch "
     "the session code\"\n\n"
     "You get: Goal, Constraints, Done when, and Context sections, with no invented "
     "requirements."},
    {"expand", "AI Extend",
     "Takes one short sentence and fills in the detail an AI needs.\n\n"
     "You say: \"add rate limiting to the API\"\n\n"
     "You get: the same request with edge cases, limits, and what done looks like spelled out. "
     "Anything it can't infer is listed as an open question instead of guessed."},
}};

const ModeText& textOf(DeliverMode mode) {
    const auto index = static_cast<std::size_t>(mode);
    return kModes[index < kModes.size() ? index : 0];
}

} // namespace

int tag(DeliverMode mode) {
    return static_cast<int>(mode);
}

std::string_view configValue(DeliverMode mode) {
    return textOf(mode).configValue;
}

std::string_view label(DeliverMode mode) {
    return textOf(mode).label;
}

std::string_view example(DeliverMode mode) {
    return textOf(mode).example;
}

namespace deliver_mode {

DeliverMode fromConfig(std::string_view value) {
    for (DeliverMode mode : allCases) {
        if (mode != DeliverMode::ask && configValue(mode) == value) return mode;
    }
    return DeliverMode::ask;
}

std::optional<DeliverMode> fromLabel(std::string_view title) {
    for (DeliverMode mode : allCases) {
        if (label(mode) == title) return mode;
    }
    return std::nullopt;
}

} // namespace deliver_mode

} // namespace vak
