#pragma once

#include "platform/key_synth.h"

#include <memory>
#include <mutex>

namespace vak {

class XcbConnection;

// Synthetic shortcuts through the XTest extension, with the left-hand modifier keys. Modifier
// keys held at that moment are released for the shortcut and pressed again after it. The keys
// are found in the current keyboard map, so any layout that has a "v" and a "c" works.
//
// In a Wayland session the keys go through XWayland, which hands them to its own windows only: a
// native window with the focus never sees them, and neither does a window that cannot be told.
class XTestKeySynth final : public KeySynth {
  public:
    explicit XTestKeySynth(bool throughXWayland = false);
    ~XTestKeySynth() override;

    bool send(const KeyChord& chord) override;
    bool reaches(const FocusedApp& focus) override;

  private:
    bool throughXWayland_;
    std::mutex mutex_;
    std::unique_ptr<XcbConnection> x_; // opened on first use, again after a failure
};

} // namespace vak
