#pragma once

#include "platform/sound_player.h"

#include <memory>

namespace vak {

// Plays the generated feedback sounds (tones.h) through the PulseAudio server. play() hands the
// work to a queue of its own and returns at once; connecting (bounded by the connection's
// request timeout) and writing happen there, and the server plays the sound out while the queue
// moves on, so sounds may overlap. With no server there is no sound and no error.
class PulseSoundPlayer final : public SoundPlayer {
  public:
    PulseSoundPlayer();
    ~PulseSoundPlayer() override;

    void play(Sound sound) override;

    // Waits until every sound asked for so far has been played out or dropped, for at most
    // `timeoutSeconds`; true when none is left. For tests and for a clean exit.
    bool waitIdle(double timeoutSeconds);

    struct State;

  private:
    std::shared_ptr<State> state_;
};

} // namespace vak
