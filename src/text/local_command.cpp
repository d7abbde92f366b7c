#include "text/local_command.h"

#include "base/regex.h"
#include "base/unicode.h"
#include "text/agent_brief.h"
#include "text/local_modes.h"

#include <array>
#include <initializer_list>
#include <vector>

namespace vak {

namespace {

// The rules path reaches only the agent brief, the one edit that reads the user's cues.
using Edit = std::string (*)(std::string_view selection, const std::string& modeRulesPath);

struct InstructionRow {
    std::vector<Regex> patterns; // "\b" + pattern + "\b", searched in the lower-cased instruction
    Edit edit;
};

InstructionRow row(std::initializer_list<std::string_view> patterns, Edit edit) {
    InstructionRow r{{}, edit};
    for (std::string_view pattern : patterns)
        r.patterns.emplace_back("\\b" + std::string(pattern) + "\\b");
    return r;
}

// Tried in order; the first row with a matching pattern edits.
const std::vector<InstructionRow>& instructionTable() {
    static const auto* table = new std::vector<InstructionRow>{
        row({"upper ?case", "all caps"},
            [](std::string_view s, const std::string&) { return toUpper(s); }),
        row({"lower ?case"}, [](std::string_view s, const std::string&) { return toLower(s); }),
        row({"summarize", "summarise", "summary"},
            [](std::string_view s, const std::string&) { return localSummarize(s); }),
        row({"agent brief", "coding brief", "turn (?:this|it) into a brief"},
            [](std::string_view s, const std::string& rules) {
                return localAgentBrief(s, agentCueTable(rules));
            }),
        row({"expand", "more detail", "flesh (?:this |it )?out"},
            [](std::string_view s, const std::string&) { return localExpand(s); }),
        row({"clean (?:this |it )?up", "fix (?:the )?grammar", "fix (?:the )?punctuation",
             "fix (?:the )?spelling", "professional", "polish", "tidy", "proofread",
             "remove (?:the )?filler"},
            [](std::string_view s, const std::string&) { return localProfessional(s); }),
    };
    return *table;
}

} // namespace

std::optional<std::string> localCommandEdit(std::string_view selection,
                                            std::string_view instruction,
                                            const std::string& modeRulesPath) {
    const std::string lowered = toLower(instruction);
    for (const InstructionRow& r : instructionTable()) {
        for (const Regex& pattern : r.patterns) {
            if (pattern.search(lowered)) return r.edit(selection, modeRulesPath);
        }
    }
    return std::nullopt;
}

} // namespace vak
