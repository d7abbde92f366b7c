#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vak {

// A word of a key's name as this system's keyboards label it ("Command" → "Super").
struct KeyWord {
    std::string_view from;
    std::string_view to;
};

// What this operating system calls its parts, for the texts that name them. One definition per
// operating system (platform/<os>/host.cpp, chosen by the build); nothing else asks which
// system it runs on.
struct Host {
    std::string_view computer;                  // the user's machine in a sentence
    std::string_view statusPlace;               // where the status item sits
    std::string_view requestPlatform;           // the platform field of a speech request
    std::string_view toolsMissing;              // that whisper-cli was looked for and where
    std::string_view keyStore;                  // where the history key is kept
    std::string_view microphoneHelp;            // how the microphone becomes usable
    std::string_view soundInput;                // where the input device is chosen
    std::string_view captureName;               // the capture, in log lines
    std::string_view keyAccessHelp;             // how a key monitor that cannot say gets access
    std::string_view keyAccessWaiting;          // the same, while the daemon waits for it
    std::span<const KeyWord> keyNameWords;      // a trigger key's name
    std::span<const KeyWord> keyShortNameWords; // its short form, after keyNameWords
    std::string_view commandChordModifier;      // held with the trigger for command mode
    // The key most desktops open their launcher with on a tap of its own; 0 where none does.
    std::uint16_t desktopLauncherKey;
};

const Host& host();

} // namespace vak
