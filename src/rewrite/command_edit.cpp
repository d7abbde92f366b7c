#include "rewrite/command_edit.h"

#include "base/log.h"
#include "base/unicode.h"
#include "rewrite/polish.h"
#include "rewrite/prompts.h"
#include "rewrite/providers.h"

#include <algorithm>
#include <array>

namespace vak {

namespace {

constexpr std::array<std::string_view, 3> kRefusals = {"i can't", "i cannot", "i'm sorry"};

} // namespace

double commandEditTimeoutSeconds(std::string_view selection) {
    return std::max(static_cast<double>(graphemeCount(selection)) / 40, 30.0);
}

std::optional<std::string> commandEdit(std::string_view selection, std::string_view instruction,
                                       const LocalCommandEditor& localEditor,
                                       const RewriteSettings& settings) {
    const std::string prompt = "SELECTED TEXT:\n" + std::string(selection) + "\n\nINSTRUCTION:\n" +
                               std::string(instruction);
    auto result = rewriteViaProviders(prompt, commandEditTimeoutSeconds(selection), "command",
                                      COMMAND_INSTRUCTION, settings);
    if (!result && localEditor) {
        result = localEditor(selection, instruction);
        if (result) log(LogLevel::info, "command edit handled in code (no AI needed)");
    }
    if (!result) return std::nullopt;
    return acceptedAnswer(*result, kRefusals);
}

} // namespace vak
