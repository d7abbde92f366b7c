#pragma once

// Where the fake whisper-cli gets the text it "hears". One source per way of deciding; the
// control file's "source=" line picks one, so new kinds (reading the audio itself) plug in here
// without touching the option parsing or the process behaviour.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fake {

struct DecodeRequest {
    std::vector<std::string> argv;   // as the program received them
    std::string controlDir;          // folder of the control and record files
    std::string model;               // -m
    std::vector<std::string> inputs; // -f and bare file arguments, in order
    std::string language;            // -l
    std::string prompt;              // --prompt
};

class TranscriptSource {
  public:
    virtual ~TranscriptSource() = default;
    // The transcript for the request; nothing makes the fake exit without writing any.
    virtual std::optional<std::string> transcribe(const DecodeRequest& request) = 0;
};

// "fixed": $VAK_FAKE_TRANSCRIPT when set, else the file "transcript.txt" in the control folder,
// else an empty transcript. "tones": the tone words heard in the input (tone_words.h). Nothing
// for an unknown name.
std::unique_ptr<TranscriptSource> makeTranscriptSource(std::string_view name);

} // namespace fake
