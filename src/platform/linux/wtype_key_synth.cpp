#include "platform/linux/wtype_key_synth.h"

#include "base/subprocess.h"

#include <vector>

namespace vak {

namespace {

constexpr double kTimeoutSeconds = 3.0;

// The key's XKB name, as wtype's -k takes it.
const char* keyName(ChordKey key) {
    switch (key) {
    case ChordKey::V:
        return "v";
    case ChordKey::C:
        return "c";
    case ChordKey::Insert:
        return "Insert";
    }
    return "v";
}

// wtype's arguments for `chord`: "-M ctrl -M shift -k v -m shift -m ctrl".
std::vector<std::string> wtypeArguments(const KeyChord& chord) {
    std::vector<std::string> modifiers;
    if (chord.control) modifiers.emplace_back("ctrl");
    if (chord.shift) modifiers.emplace_back("shift");
    if (chord.alt) modifiers.emplace_back("alt");
    if (chord.command) modifiers.emplace_back("logo");
    std::vector<std::string> args;
    for (const std::string& modifier : modifiers) {
        args.emplace_back("-M");
        args.push_back(modifier);
    }
    args.emplace_back("-k");
    args.emplace_back(keyName(chord.key));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        args.emplace_back("-m");
        args.push_back(*it);
    }
    return args;
}

} // namespace

bool WtypeKeySynth::send(const KeyChord& chord) {
    std::vector<std::string> argv = {program_};
    for (std::string& arg : wtypeArguments(chord))
        argv.push_back(std::move(arg));
    RunOptions options;
    options.timeoutSeconds = kTimeoutSeconds;
    options.captureOutput = false;
    const auto result = runProcess(argv, options);
    return result && result->status.success();
}

} // namespace vak
