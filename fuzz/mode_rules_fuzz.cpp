// The mode-rules file: what is written back from any rules reads back as the same rules, and
// the agent brief runs with them.
#include "fuzz_support.h"
#include "text/agent_brief.h"
#include "text/mode_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const auto rules = vak::parseModeRules(bytesOf(data, size));
    const std::string text = vak::modeRulesText(rules);
    require(vak::modeRulesText(vak::parseModeRules(text)) == text, "the file reads back");
    const std::string path = scratchFile("mode-rules");
    writeFile(path, bytesOf(data, size));
    vak::localAgentBrief("Rebuild the cache. Do not touch the staging database. Done when the "
                         "tests pass.",
                         vak::agentCueTable(path));
    return 0;
}
