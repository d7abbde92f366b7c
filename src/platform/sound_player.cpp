#include "platform/sound_player.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a player is installed: silence.
class NoSoundPlayer final : public SoundPlayer {
  public:
    void play(std::string_view) override {}
};

ServiceSlot<SoundPlayer>& slot() {
    // Never destroyed: background threads may still ask for it while the process exits.
    static auto* installed = new ServiceSlot<SoundPlayer>(std::make_shared<NoSoundPlayer>());
    return *installed;
}

} // namespace

std::shared_ptr<SoundPlayer> soundPlayer() {
    return slot().get();
}

void installSoundPlayer(std::shared_ptr<SoundPlayer> service) {
    slot().set(std::move(service));
}

} // namespace vak

namespace vak {

void playSound(std::string_view name) {
    soundPlayer()->play(name);
}

} // namespace vak
