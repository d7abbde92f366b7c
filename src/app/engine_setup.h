#pragma once

#include <optional>
#include <string>

namespace vak {

// "--setup-engine [tools|models]": makes sure a local speech engine is there, asking nothing.
//  - whisper-cli, whisper-server and vak-parakeet-server: found on the tool path (and new
//    enough: whisper-cli's --help lists --carry-initial-prompt), else built from whisper.cpp
//    v1.9.3 — the source folder or tarball $VAK_WHISPER_SRC, else a shallow clone of the release
//    tag — with the CPU back-end, OpenMP and the extra CMake options of $VAK_WHISPER_CMAKE_ARGS
//    (a GPU back-end, say), the Parakeet server against the same source's Parakeet library, and
//    installed in the engine folder (ENGINE_DIR/bin), which tool look-ups search; a build there
//    with other options or an older server is built again;
//  - the models of DECODE_MODEL, CAPTION_MODEL and the voice-activity model: downloaded with a
//    progress bar, resumed, checked, into ~/.whisper-models/.
// With an argument, only that half. Says what it found and did; returns 0 when everything is
// in place, else 1 after saying what is missing and what to do.
int runSetupEngine(const std::optional<std::string>& what);

} // namespace vak
