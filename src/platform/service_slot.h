#pragma once

#include <memory>
#include <mutex>

namespace vak {

// Holds the process's implementation of one platform service: a stand-in until the entry (or a
// test) installs the real one. Callers keep the pointer they got while they use it, so
// installing another never pulls it from under them. Safe from any thread.
template <typename Service>
class ServiceSlot {
  public:
    explicit ServiceSlot(std::shared_ptr<Service> standIn) : standIn_(std::move(standIn)) {}
    ServiceSlot(const ServiceSlot&) = delete;
    ServiceSlot& operator=(const ServiceSlot&) = delete;

    std::shared_ptr<Service> get() const {
        std::lock_guard lock(mutex_);
        return installed_ ? installed_ : standIn_;
    }
    // Installs `service`; nothing puts the stand-in back.
    void set(std::shared_ptr<Service> service) {
        std::lock_guard lock(mutex_);
        installed_ = std::move(service);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<Service> standIn_;
    std::shared_ptr<Service> installed_;
};

// The one slot of `Service`, with a `StandIn` until something is installed. Never destroyed:
// background threads may still ask for the service while the process exits.
template <typename Service, typename StandIn>
ServiceSlot<Service>& serviceSlot() {
    static auto* slot = new ServiceSlot<Service>(std::make_shared<StandIn>());
    return *slot;
}

} // namespace vak
