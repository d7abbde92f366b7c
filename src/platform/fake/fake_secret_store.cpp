#include "platform/fake/fake_secret_store.h"

#include <thread>

namespace vak {

SecretRead FakeSecretStore::read(std::string_view service, std::string_view account) {
    double delay = 0;
    {
        std::lock_guard lock(mutex_);
        delay = readDelay_;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    std::lock_guard lock(mutex_);
    ++counts_.reads;
    if (failReads_) return {SecretStatus::Failed, {}};
    const auto it = items_.find(Key(service, account));
    if (it == items_.end()) return {SecretStatus::NotFound, {}};
    return {SecretStatus::Found, it->second};
}

bool FakeSecretStore::write(std::string_view service, std::string_view account,
                            std::string_view data) {
    std::lock_guard lock(mutex_);
    ++counts_.writes;
    if (failWrites_) return false;
    items_[Key(service, account)] = std::string(data);
    return true;
}

bool FakeSecretStore::remove(std::string_view service, std::string_view account) {
    std::lock_guard lock(mutex_);
    ++counts_.removes;
    if (failRemoves_) return false;
    items_.erase(Key(service, account));
    return true;
}

void FakeSecretStore::put(std::string_view service, std::string_view account, std::string data) {
    std::lock_guard lock(mutex_);
    items_[Key(service, account)] = std::move(data);
}

std::optional<std::string> FakeSecretStore::get(std::string_view service,
                                                std::string_view account) const {
    std::lock_guard lock(mutex_);
    const auto it = items_.find(Key(service, account));
    if (it == items_.end()) return std::nullopt;
    return it->second;
}

FakeSecretStore::Counts FakeSecretStore::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

void FakeSecretStore::setFailReads(bool fail) {
    std::lock_guard lock(mutex_);
    failReads_ = fail;
}

void FakeSecretStore::setFailWrites(bool fail) {
    std::lock_guard lock(mutex_);
    failWrites_ = fail;
}

void FakeSecretStore::setFailRemoves(bool fail) {
    std::lock_guard lock(mutex_);
    failRemoves_ = fail;
}

void FakeSecretStore::setReadDelay(double seconds) {
    std::lock_guard lock(mutex_);
    readDelay_ = seconds;
}

} // namespace vak
