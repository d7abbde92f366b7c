#include "platform/secret_store.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// No stand-in: without an installed store there is none (see the header).
ServiceSlot<SecretStore>& slot() {
    static auto* slot = new ServiceSlot<SecretStore>(nullptr);
    return *slot;
}

} // namespace

std::shared_ptr<SecretStore> secretStore() {
    return slot().get();
}

void installSecretStore(std::shared_ptr<SecretStore> store) {
    slot().set(std::move(store));
}

} // namespace vak
