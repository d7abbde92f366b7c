#pragma once

#include <istream>
#include <ostream>

namespace vak {

enum class CliRewrite {
    ForAI,   // --polish-stdin: the agent-brief rewrite
    ForText, // --polish-text-stdin: the clean-up rewrite
};

// Formats all of `in` as a transcript (input that is not UTF-8 counts as empty), rewrites it with
// a model and prints the rewrite (0), or the failure line when the rewrite yields nothing (1).
int runPolishStdin(std::istream& in, std::ostream& out, CliRewrite kind);

} // namespace vak
