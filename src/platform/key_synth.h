#pragma once

#include "platform/frontmost_app.h"

#include <memory>
#include <string>

namespace vak {

// The keys of the shortcuts the program types into other applications.
enum class ChordKey { V, C, Insert };

// One shortcut: the modifiers held around one key press (the left-hand modifier keys).
struct KeyChord {
    bool control = false;
    bool shift = false;
    bool alt = false;
    ChordKey key = ChordKey::V;
    // Command on macOS, where its shortcuts live; the logo (Super) key elsewhere.
    bool command = false;

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
    // Whether what send() types now would arrive in the window `focus` describes. Keys that
    // cannot arrive are better not sent: the text then waits on the clipboard, said so.
    virtual bool reaches(const FocusedApp& /*focus*/) { return true; }
    // How long a paste key waits after the clipboard was written, with the event loop running
    // meanwhile: where the compositor asks this program for the new contents before it offers
    // them to the focused window. 0: at once.
    virtual double leadSeconds() { return 0; }
};

// How the user types `chord` ("Ctrl+Shift+V", "Shift+Insert").
std::string keyChordName(const KeyChord& chord);

// The process's key synthesiser. Until one is installed: sends nothing, returns false.
std::shared_ptr<KeySynth> keySynth();
void installKeySynth(std::shared_ptr<KeySynth> synth);

} // namespace vak
