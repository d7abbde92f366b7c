#pragma once

#include "platform/key_synth.h"

#include <string>

namespace vak {

// Synthetic shortcuts through the wlroots virtual-keyboard protocol, by running the `wtype`
// tool (Debian's wtype). The tool brings its own keyboard map, so the letters are right in any
// layout, and its keyboard has modifiers of its own, so keys the user still holds do not mix in.
// Each shortcut runs it once, under a time limit.
class WtypeKeySynth final : public KeySynth {
  public:
    explicit WtypeKeySynth(std::string program) : program_(std::move(program)) {}

    bool send(const KeyChord& chord) override;

  private:
    std::string program_;
};

} // namespace vak
