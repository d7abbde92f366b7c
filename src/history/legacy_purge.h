#pragma once

#include "foundation/process_values.h"

#include <string>

namespace vak {

struct LegacyPurgeFiles {
    std::string logPath;
    std::string markerPath;       // its existence means the purge has run
    std::string retainedClipPath; // the kept audio of the last dictation

    // The files of `values`.
    static LegacyPurgeFiles from(const ProcessValues& values);
};

// One-time clean-up of what earlier versions left in plain text: removes from the log every line
// holding a transcript ("] ✓ ", "· raw: ", "· cmd instruction: "), deletes the retained clip,
// leaves the marker and logs how many were removed. Does nothing once the marker exists. A log
// that is not valid UTF-8 is left exactly as it is.
void purgeLegacyPlaintext(const LegacyPurgeFiles& files);

} // namespace vak
