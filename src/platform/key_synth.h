#pragma once

#include <memory>

namespace vak {

// The keys of the shortcuts the program types into other applications.
enum class ChordKey { V, C, Insert };

// One shortcut: the modifiers held around one key press (the left-hand modifier keys).
struct KeyChord {
    bool control = false;
    bool shift = false;
    bool alt = false;
    ChordKey key = ChordKey::V;

    bool operator==(const KeyChord&) const = default;
};

// Synthetic key presses, delivered to whatever window has the keyboard focus as if typed.
// Modifier keys the user happens to hold are lifted for the shortcut and put back after it, so
// a shortcut sent while Option is still down is not read as a different chord. Which chord an
// application takes is the caller's business (paste_style.h).
//
// Implementations: XTest on Linux, posted keyboard events on macOS, a recording fake for tests.
// Main thread only.
class KeySynth {
  public:
    KeySynth() = default;
    virtual ~KeySynth() = default;
    KeySynth(const KeySynth&) = delete;
    KeySynth& operator=(const KeySynth&) = delete;

    // Types `chord` into the focused window. False when nothing could be sent.
    virtual bool send(const KeyChord& chord) = 0;
};

// The process's key synthesiser. Until one is installed: sends nothing, returns false.
std::shared_ptr<KeySynth> keySynth();
void installKeySynth(std::shared_ptr<KeySynth> synth);

} // namespace vak
