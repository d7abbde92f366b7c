#pragma once

#include "platform/secret_store.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace vak {

// An in-memory secret store for tests, which can be told to refuse each kind of call, or to take
// its time answering reads as a Secret Service may.
class FakeSecretStore final : public SecretStore {
  public:
    SecretRead read(std::string_view service, std::string_view account) override;
    bool write(std::string_view service, std::string_view account, std::string_view data) override;
    bool remove(std::string_view service, std::string_view account) override;

    // Direct access for arranging and checking a test, outside the refusal switches.
    void put(std::string_view service, std::string_view account, std::string data);
    std::optional<std::string> get(std::string_view service, std::string_view account) const;

    struct Counts {
        int reads = 0;
        int writes = 0;
        int removes = 0;
    };
    Counts counts() const;

    void setFailReads(bool fail);
    void setFailWrites(bool fail);
    void setFailRemoves(bool fail);
    void setReadDelay(double seconds);

  private:
    using Key = std::pair<std::string, std::string>;
    mutable std::mutex mutex_;
    std::map<Key, std::string> items_;
    Counts counts_;
    bool failReads_ = false;
    bool failWrites_ = false;
    bool failRemoves_ = false;
    double readDelay_ = 0;
};

} // namespace vak
