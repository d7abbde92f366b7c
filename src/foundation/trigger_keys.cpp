#include "foundation/trigger_keys.h"

namespace vak {

const TriggerKey& triggerKey(std::uint16_t code) {
    for (const TriggerKey& key : TRIGGER_KEYS) {
        if (key.code == code) return key;
    }
    return TRIGGER_KEYS.front();
}

} // namespace vak
