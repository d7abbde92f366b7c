#pragma once

#include <memory>
#include <string_view>

namespace vak {

// The two shortcuts the program types into other applications.
enum class SyntheticShortcut {
    Paste, // Command-V; Ctrl+V on Linux, Ctrl+Shift+V in a terminal
    Copy,  // Command-C; Ctrl+C on Linux, Ctrl+Shift+C in a terminal
};

// Synthetic key presses, delivered to whatever window has the keyboard focus as if typed.
// Modifier keys the user happens to hold are lifted for the shortcut and put back after it, so
// a shortcut sent while Option is still down is not read as a different chord.
//
// Implementations: XTest on Linux, posted keyboard events on macOS, a recording fake for tests.
// Main thread only.
class KeySynth {
  public:
    KeySynth() = default;
    virtual ~KeySynth() = default;
    KeySynth(const KeySynth&) = delete;
    KeySynth& operator=(const KeySynth&) = delete;

    // Sends the shortcut to the focused application, whose identifier (FrontmostApp) is
    // `appId`, empty when unknown; it picks the terminal form where the platform has one.
    // False when nothing could be sent.
    virtual bool send(SyntheticShortcut shortcut, std::string_view appId) = 0;
};

// The process's key synthesiser. Until one is installed: sends nothing, returns false.
std::shared_ptr<KeySynth> keySynth();
void installKeySynth(std::shared_ptr<KeySynth> synth);

} // namespace vak
