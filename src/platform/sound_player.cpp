#include "platform/sound_player.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a player is installed: silence.
class NoSoundPlayer final : public SoundPlayer {
  public:
    void play(Sound) override {}
};

} // namespace

std::shared_ptr<SoundPlayer> soundPlayer() {
    return serviceSlot<SoundPlayer, NoSoundPlayer>().get();
}

void installSoundPlayer(std::shared_ptr<SoundPlayer> service) {
    serviceSlot<SoundPlayer, NoSoundPlayer>().set(std::move(service));
}

} // namespace vak

namespace vak {

void playSound(Sound sound) {
    soundPlayer()->play(sound);
}

} // namespace vak
