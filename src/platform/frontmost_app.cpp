#include "platform/frontmost_app.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a query is installed: no application is known (and so nothing is said
// against a window having the focus).
class NoFrontmostApp final : public FrontmostApp {
  public:
    FocusedApp focused() override { return {}; }
};

} // namespace

std::shared_ptr<FrontmostApp> frontmostApp() {
    return serviceSlot<FrontmostApp, NoFrontmostApp>().get();
}

void installFrontmostApp(std::shared_ptr<FrontmostApp> service) {
    serviceSlot<FrontmostApp, NoFrontmostApp>().set(std::move(service));
}

} // namespace vak
