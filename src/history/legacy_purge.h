#pragma once

#include <string>

namespace vak {

struct LegacyPurgeFiles {
    std::string logPath;
    std::string markerPath;       // its existence means the purge has run
    std::string retainedClipPath; // the kept audio of the last dictation
};

// One-time clean-up of what earlier versions left in plain text: removes from the log every line
// holding a transcript ("] ✓ ", "· raw: ", "· cmd instruction: "), deletes the retained clip,
// leaves the marker and logs how many were removed. Does nothing once the marker exists. A log
// that is not valid UTF-8 is left exactly as it is. The first form uses the process's files.
void purgeLegacyPlaintext();
void purgeLegacyPlaintext(const LegacyPurgeFiles& files);

} // namespace vak
