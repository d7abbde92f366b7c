#pragma once

#include <string>

namespace vak {

// "--transcribe-file WAV": decodes the file through the normal routing, prints the formatted
// transcript and returns 0; writes "transcription failed" to standard error and returns 1 when
// no engine produced text.
int runTranscribeFile(const std::string& wav);

} // namespace vak
