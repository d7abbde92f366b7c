#include "platform/frontmost_app.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a query is installed: no application is known.
class NoFrontmostApp final : public FrontmostApp {
  public:
    std::string identifier() override { return {}; }
};

ServiceSlot<FrontmostApp>& slot() {
    // Never destroyed: background threads may still ask for it while the process exits.
    static auto* installed = new ServiceSlot<FrontmostApp>(std::make_shared<NoFrontmostApp>());
    return *installed;
}

} // namespace

std::shared_ptr<FrontmostApp> frontmostApp() {
    return slot().get();
}

void installFrontmostApp(std::shared_ptr<FrontmostApp> service) {
    slot().set(std::move(service));
}

} // namespace vak
