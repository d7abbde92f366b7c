#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// A recording kept after every engine failed on it.
struct KeptRecording {
    std::string path;
    std::time_t modified = 0;
    double seconds = 0; // of audio, from the file's size
};

// Every scratch file the program makes: one folder ($VAK_TMPDIR, else /tmp), the names built
// here and nowhere else, and the sweep at start that removes what crashed runs left there.
// Callers create the files with createScratchFile (never through a link) and remove them.
//
// A second folder of the user's, the overflow folder, takes a recording the scratch folder
// could not (a full disk, a removed folder); its recordings are kept, listed and swept as the
// scratch folder's are.
class ScratchFiles {
  public:
    explicit ScratchFiles(std::string dir = "/tmp", std::string overflowDir = {});

    const std::string& dir() const { return dir_; }
    const std::string& overflowDir() const { return overflow_; } // empty: none
    // Session N's recording moved to the overflow folder; empty without one.
    std::string overflowRecording(int session) const;
    // dir + "/" + name.
    std::string path(std::string_view name) const;

    // A session's recording, "vak_rec_N.wav", and the decoder output base of its full decode
    // (whisper-cli writes base + ".txt").
    std::string recording(int session) const;
    std::string recordingTextBase(int session) const;
    // A recording kept after every engine failed on it, "vak_failed_N.wav"; later copies of the
    // same session number (from other runs) "vak_failed_N-2.wav", "vak_failed_N-3.wav", ….
    std::string failedRecording(int session, int copy = 1) const;
    // Moves session N's recording `wav` to the first failed-recording name that is free (never
    // over an earlier run's) in its own folder (the scratch or the overflow folder), 0600. Its
    // path, or nothing when it could not be moved.
    std::optional<std::string> keepFailedRecording(const std::string& wav, int session) const;
    // This user's recordings of earlier runs still there ("vak_rec_N.wav", regular files), with
    // their session numbers: what a daemon that ended mid-dictation left.
    struct StaleRecording {
        std::string path;
        int session = 0;
    };
    std::vector<StaleRecording> staleRecordings() const;
    // The kept recordings in both folders now, newest first.
    std::vector<KeptRecording> failedRecordings() const;
    // The decoder output base of one more try at a kept recording, unique per call.
    std::string retryTextBase() const;
    // KEEP_LAST_CLIP's copy of the latest recording.
    std::string lastClip() const;
    // A piece of session N's recording cut out for a decode, as a base: base + ".wav" is the
    // clip, base + ".txt" the decoder's output.
    std::string chunkBase(int session, std::string_view piece) const;
    // The caption engine's clip and output base, one per process.
    std::string captionBase() const;
    // The conditioned copy of a clip, unique per call.
    std::string conditionedCopy() const;
    // A rewrite request body for `provider` ("proxy", "polish"), unique per call.
    std::string requestBody(std::string_view provider) const;
    // The scratch base of a command-line mode ("clitest", "miccheck", "captionsim", …); with
    // `perProcess` the process id is part of it.
    std::string commandLineBase(std::string_view mode, bool perProcess = false) const;

    // Removes the recordings, clips and outputs crashed runs left behind, and kept failed
    // recordings once they are `historyDays` days old (all of them at 0). Other files are left
    // alone; errors are ignored. Returns how many entries went.
    int sweep(int historyDays, std::time_t now) const;

  private:
    std::vector<std::string> folders() const;

    std::string dir_;
    std::string overflow_;
};

} // namespace vak
