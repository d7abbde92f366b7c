#include "platform/key_synth.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a synthesiser is installed: nothing is typed.
class NoKeySynth final : public KeySynth {
  public:
    bool send(const KeyChord&) override { return false; }
    bool reaches(const FocusedApp&) override { return false; }
};

} // namespace

std::string keyChordName(const KeyChord& chord) {
    std::string name;
    if (chord.control) name += "Ctrl+";
    if (chord.alt) name += "Alt+";
    if (chord.shift) name += "Shift+";
    switch (chord.key) {
    case ChordKey::V:
        return name + "V";
    case ChordKey::C:
        return name + "C";
    case ChordKey::Insert:
        return name + "Insert";
    }
    return name;
}

std::shared_ptr<KeySynth> keySynth() {
    return serviceSlot<KeySynth, NoKeySynth>().get();
}

void installKeySynth(std::shared_ptr<KeySynth> service) {
    serviceSlot<KeySynth, NoKeySynth>().set(std::move(service));
}

} // namespace vak
