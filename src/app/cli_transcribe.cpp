#include "app/cli_transcribe.h"

#include "app/process_values.h"
#include "base/files.h"
#include "base/subprocess.h"
#include "text/formatting.h"
#include "transcribe/decode_router.h"

#include <iostream>

#include <unistd.h>

namespace vak {

int runTranscribeFile(const std::string& wav) {
    const std::string txtBase =
        processValues().scratchPath("vak_clitest_" + std::to_string(::getpid()));
    const auto text = runWhisper(wav, txtBase);
    // The race's loser may still be decoding. This process is about to exit, taking the loser's
    // watchdog with it, so stop it now; it could otherwise hang unwatched or write the
    // transcript file after it was deleted below.
    stopRunningChildren(0.5);
    waitForDecodeEngines(2.0);
    removeFile(txtBase + ".txt");
    if (!text) {
        std::cerr << "transcription failed\n";
        return 1;
    }
    std::cout << formatTranscript(*text) << "\n";
    return 0;
}

} // namespace vak
