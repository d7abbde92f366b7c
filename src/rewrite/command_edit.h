#pragma once

#include "rewrite/rewrite_settings.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

// The rule-based editor the command edit falls back to when no model answers: the edited
// selection, or nothing when it cannot apply the instruction.
using LocalCommandEditor = std::function<std::optional<std::string>(std::string_view selection,
                                                                    std::string_view instruction)>;

// Applies a spoken `instruction` to `selection` through the rewrite providers, then
// `localEditor`. The trimmed edited text, or nothing: every path failed, the answer was empty,
// or the model refused. Blocks for up to the time limit: call it off the main thread.
std::optional<std::string> commandEdit(std::string_view selection, std::string_view instruction,
                                       const LocalCommandEditor& localEditor,
                                       const RewriteSettings& settings);

// A long selection takes longer to rewrite: one second per 40 characters, at least 30.
double commandEditTimeoutSeconds(std::string_view selection);

} // namespace vak
