#include "platform/key_synth.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a synthesiser is installed: nothing is typed.
class NoKeySynth final : public KeySynth {
  public:
    bool send(SyntheticShortcut, std::string_view) override { return false; }
};

ServiceSlot<KeySynth>& slot() {
    // Never destroyed: background threads may still ask for it while the process exits.
    static auto* installed = new ServiceSlot<KeySynth>(std::make_shared<NoKeySynth>());
    return *installed;
}

} // namespace

std::shared_ptr<KeySynth> keySynth() {
    return slot().get();
}

void installKeySynth(std::shared_ptr<KeySynth> service) {
    slot().set(std::move(service));
}

} // namespace vak
