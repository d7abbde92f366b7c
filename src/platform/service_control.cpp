#include "platform/service_control.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a control is installed: the program is nobody's service.
class NoServiceControl final : public ServiceControl {
  public:
    bool stopService() override { return false; }
    bool restartService() override { return false; }
};

ServiceSlot<ServiceControl>& slot() {
    // Never destroyed: background threads may still ask for it while the process exits.
    static auto* installed = new ServiceSlot<ServiceControl>(std::make_shared<NoServiceControl>());
    return *installed;
}

} // namespace

std::shared_ptr<ServiceControl> serviceControl() {
    return slot().get();
}

void installServiceControl(std::shared_ptr<ServiceControl> service) {
    slot().set(std::move(service));
}

} // namespace vak
