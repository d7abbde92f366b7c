#include "foundation/trigger_keys.h"

namespace vak {

const TriggerKey& triggerKey(std::uint16_t code) {
    for (const TriggerKey& key : TRIGGER_KEYS) {
        if (key.code == code) return key;
    }
    return TRIGGER_KEYS.front();
}

std::uint64_t flagsBesides(const TriggerKey& key, std::uint64_t flags) {
    flags &= ~key.bit;
    for (const TriggerKey& other : TRIGGER_KEYS) {
        if (other.mask == key.mask && (flags & other.bit) != 0) return flags;
    }
    return flags & ~key.mask;
}

} // namespace vak
