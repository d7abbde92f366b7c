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

} // namespace

std::shared_ptr<ServiceControl> serviceControl() {
    return serviceSlot<ServiceControl, NoServiceControl>().get();
}

void installServiceControl(std::shared_ptr<ServiceControl> service) {
    serviceSlot<ServiceControl, NoServiceControl>().set(std::move(service));
}

} // namespace vak
