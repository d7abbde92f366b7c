#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vak {

// Applies a spoken editing instruction to the selected text without a model, for the few
// instructions rules can carry out: upper or lower case, summarise, agent brief, expand, and
// clean-up ("fix the grammar", "polish", "proofread"…). The instruction's words are matched as
// whole words in any case. Nothing when no rule applies. The agent brief adds the user's cues
// from `modeRulesPath`, as localModeTransform does.
std::optional<std::string> localCommandEdit(std::string_view selection,
                                            std::string_view instruction,
                                            const std::string& modeRulesPath = {});

} // namespace vak
