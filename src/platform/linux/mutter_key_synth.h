#pragma once

#include "platform/key_synth.h"

#include <memory>
#include <mutex>
#include <string>

namespace vak {

// Synthetic shortcuts through mutter's own remote-desktop interface on the session bus
// (org.gnome.Mutter.RemoteDesktop, GNOME): a session created and started there gives the
// program a virtual keyboard of the compositor's, which types into native and XWayland windows
// alike, with no prompt and no set-up. Keys go as keysyms, so the letters are right in any layout.
// mutter ends the session when its creator's bus connection closes; a session that has ended is
// made again at the next shortcut. Making one takes a third of a second (its keyboard joins the
// seat), so it is made at start-up through available(). Every bus call has a time limit.
class MutterKeySynth final : public KeySynth {
  public:
    MutterKeySynth();
    ~MutterKeySynth() override;

    // Whether a session could be made now; when not, why() says why.
    bool available();
    const std::string& why() const { return why_; }

    bool send(const KeyChord& chord) override;
    // On GNOME the clipboard goes through XWayland, and mutter hands a native window new
    // contents only after asking this program for their types: a paste key sent before the
    // program's loop has answered reads the old contents, or none (Qt 6.4 then crashes).
    double leadSeconds() override { return 0.15; }

    struct Bus;

  private:
    bool ensureSession();

    std::mutex mutex_;
    std::unique_ptr<Bus> bus_;
    std::string why_;
};

} // namespace vak
