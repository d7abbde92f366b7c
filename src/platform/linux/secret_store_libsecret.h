#pragma once

#include "platform/secret_store.h"

#include <memory>

namespace vak {

// The Secret Service of the login session (gnome-keyring, KWallet, KeePassXC…) through
// libsecret. Items carry the attributes "service" and "account" and hold raw bytes. Each call
// gets `timeoutSeconds`; a store that takes longer (hung, or waiting on an unlock prompt nobody
// answers) is cancelled and the call fails. Nothing connects until the first call.
std::shared_ptr<SecretStore> makeLibsecretStore(double timeoutSeconds = 5.0);

} // namespace vak
