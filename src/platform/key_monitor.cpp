#include "platform/key_monitor.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a monitor is installed: input cannot be watched.
class NoKeyMonitor final : public KeyMonitor {
  public:
    bool isTrusted(bool) override { return false; }
    bool secureInputActive() override { return false; }
    bool start(InputEventHandler) override { return false; }
};

} // namespace

std::shared_ptr<KeyMonitor> keyMonitor() {
    return serviceSlot<KeyMonitor, NoKeyMonitor>().get();
}

void installKeyMonitor(std::shared_ptr<KeyMonitor> service) {
    serviceSlot<KeyMonitor, NoKeyMonitor>().set(std::move(service));
}

} // namespace vak
