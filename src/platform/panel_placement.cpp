#include "platform/panel_placement.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a placement is installed: the windows place themselves.
class OwnPlacement final : public PanelPlacement {
  public:
    void prepare(std::string_view) override {}
    bool place(std::string_view, int, int) override { return true; }
};

} // namespace

std::shared_ptr<PanelPlacement> panelPlacement() {
    return serviceSlot<PanelPlacement, OwnPlacement>().get();
}

void installPanelPlacement(std::shared_ptr<PanelPlacement> service) {
    serviceSlot<PanelPlacement, OwnPlacement>().set(std::move(service));
}

} // namespace vak
