#include "text/formatting.h"

#include "base/unicode.h"

namespace vak {

// Placeholder until the pipeline lands: trims the transcript and nothing more.
std::string formatTranscript(std::string_view raw) {
    return trim(raw);
}

} // namespace vak
