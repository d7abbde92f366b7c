#include "platform/key_synth.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a synthesiser is installed: nothing is typed.
class NoKeySynth final : public KeySynth {
  public:
    bool send(const KeyChord&) override { return false; }
};

} // namespace

std::shared_ptr<KeySynth> keySynth() {
    return serviceSlot<KeySynth, NoKeySynth>().get();
}

void installKeySynth(std::shared_ptr<KeySynth> service) {
    serviceSlot<KeySynth, NoKeySynth>().set(std::move(service));
}

} // namespace vak
