#pragma once

#include "platform/key_synth.h"

#include <memory>
#include <mutex>

namespace vak {

class XcbConnection;

// Synthetic shortcuts through the XTest extension, with the left-hand modifier keys. Modifier
// keys held at that moment are released for the shortcut and pressed again after it. The keys
// are found in the current keyboard map, so any layout that has a "v" and a "c" works.
class XTestKeySynth final : public KeySynth {
  public:
    XTestKeySynth();
    ~XTestKeySynth() override;

    bool send(const KeyChord& chord) override;

  private:
    std::mutex mutex_;
    std::unique_ptr<XcbConnection> x_; // opened on first use, again after a failure
};

} // namespace vak
