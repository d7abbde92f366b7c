#pragma once

#include "platform/key_synth.h"

#include <memory>
#include <string>

namespace vak {

class WaylandClient;

// Synthetic shortcuts through KWin's fake-input protocol (org_kde_kwin_fake_input, KDE Plasma):
// the keys enter KWin's own input handling, so they reach native and XWayland windows alike,
// with no prompt. KWin offers the protocol only to a program whose installed desktop entry
// lists it (X-KDE-Wayland-Interfaces) and whose Exec names the running executable; to anyone
// else the global is simply absent. Keys go as key positions (evdev codes), which KWin's layout
// gives their meaning: V and C sit where they do on QWERTY in most layouts, not in Dvorak.
// Every request goes through the client's thread with a time limit.
class KwinKeySynth final : public KeySynth {
  public:
    // Nothing, with `why` set, when KWin does not offer its fake input to this program.
    static std::shared_ptr<KwinKeySynth> create(std::shared_ptr<WaylandClient> client,
                                                std::string* why);
    ~KwinKeySynth() override;

    bool send(const KeyChord& chord) override;
    bool reaches(const FocusedApp& focus) override;

    struct State;

  private:
    KwinKeySynth() = default;
    std::shared_ptr<WaylandClient> client_;
    std::shared_ptr<State> state_;
};

// Whether the compositor at the other end is KWin (its own globals are there), and what a user
// must do for KWin to offer its fake input to this program.
bool isKwin(const WaylandClient& client);
std::string kwinFakeInputHelp();

} // namespace vak
