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

ServiceSlot<KeyMonitor>& slot() {
    // Never destroyed: background threads may still ask for it while the process exits.
    static auto* installed = new ServiceSlot<KeyMonitor>(std::make_shared<NoKeyMonitor>());
    return *installed;
}

} // namespace

std::shared_ptr<KeyMonitor> keyMonitor() {
    return slot().get();
}

void installKeyMonitor(std::shared_ptr<KeyMonitor> service) {
    slot().set(std::move(service));
}

} // namespace vak
