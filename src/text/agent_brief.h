#pragma once

#include "base/regex.h"
#include "text/mode_rules.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// A phrase pattern that votes for a section of the brief with a weight. The pattern is matched
// case-insensitively anywhere in a clause.
struct AgentCue {
    AgentCue(CueSection section, std::string pattern, double weight);

    CueSection section;
    std::string pattern;
    double weight;
    Regex compiled; // "(?i)" + pattern
};

struct AgentBrief {
    std::string text;
    double quality = 0;
};

// The task clauses of a request: its cleaned sentences cut at ", ", leading "and", "but",
// "then" or "also" dropped, and pieces of one or two words joined to the clause before.
std::vector<std::string> taskClauses(std::string_view text);
// The same from sentences cleanedSentences has already made.
std::vector<std::string> taskClausesOf(const std::vector<std::string>& cleanedSentences);

// The built-in cues, then the user's from the mode-rules file `rulesPath` (read on every call;
// none when the path is empty), each user phrase matched literally as whole words.
std::vector<AgentCue> agentCueTable(const std::string& rulesPath);
// The cue for one of the user's rules.
AgentCue userCue(const ModeRule& rule);

// Sorts the clauses into goal, constraints, done-when and context by their cue scores (a
// section other than the goal needs at least `threshold` and more than the goal's score) and
// lays them out under their headings. The quality rewards a goal and each filled section and
// punishes a section holding more than half of the clauses.
AgentBrief buildAgentBrief(const std::vector<std::string>& clauses,
                           const std::vector<AgentCue>& cues, double threshold);

// The brief of sentences cleanedSentences has made, built with thresholds 3 and 2 and the better
// one kept (threshold 3 on a tie); nothing when there is nothing to brief.
std::optional<std::string> agentBriefOf(const std::vector<std::string>& cleanedSentences,
                                        const std::vector<AgentCue>& cues);

// The brief for a coding agent (agentBriefOf); the professional text when there is nothing to
// brief.
std::string localAgentBrief(std::string_view text,
                            const std::vector<AgentCue>& cues = agentCueTable({}));

} // namespace vak
