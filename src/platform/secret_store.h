#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vak {

// What a read from the secret store found.
enum class SecretStatus {
    Found,    // the item exists; its bytes are in `data`
    NotFound, // the store answered and holds no such item
    Failed,   // the store could not be asked (locked, refused, unreachable, too slow)
};

struct SecretRead {
    SecretStatus status = SecretStatus::Failed;
    std::string data; // raw bytes, only when found
};

// The login session's store of small secrets (the Keychain on macOS, the Secret Service on
// Linux), holding generic items addressed by a service and an account name. Items are readable
// only by the user's own login session and never leave this device through us.
//
// Implementations bound every call in time, so a hung store costs a caller seconds, never a
// dictation. Thread safety: every call may come from any thread.
class SecretStore {
  public:
    virtual ~SecretStore() = default;

    virtual SecretRead read(std::string_view service, std::string_view account) = 0;
    // Stores `data` (any bytes) as the item, replacing one that is there.
    virtual bool write(std::string_view service, std::string_view account,
                       std::string_view data) = 0;
    // Deletes the item; true when it is gone afterwards, also when it was never there.
    virtual bool remove(std::string_view service, std::string_view account) = 0;
};

// The process's store, installed once at start-up by the entry (or by a test). Until one is
// installed there is none, and everything that needs a secret treats the store as refusing: a
// test that forgets to install a fake can never reach the user's real keyring.
std::shared_ptr<SecretStore> secretStore();
void installSecretStore(std::shared_ptr<SecretStore> store);

} // namespace vak
