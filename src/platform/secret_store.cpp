#include "platform/secret_store.h"

#include <mutex>

namespace vak {

namespace {

std::mutex storeMutex;
std::shared_ptr<SecretStore>& installedStore() {
    // Never destroyed: a background thread may still ask for the store while the process exits.
    static auto* store = new std::shared_ptr<SecretStore>();
    return *store;
}

} // namespace

void setSecretStore(std::shared_ptr<SecretStore> store) {
    std::lock_guard lock(storeMutex);
    installedStore() = std::move(store);
}

std::shared_ptr<SecretStore> secretStore() {
    std::lock_guard lock(storeMutex);
    return installedStore();
}

} // namespace vak
