#include "platform/file_opener.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until an opener is installed: nothing opens.
class NoFileOpener final : public FileOpener {
  public:
    bool open(const std::string&) override { return false; }
};

ServiceSlot<FileOpener>& slot() {
    // Never destroyed: background threads may still ask for it while the process exits.
    static auto* installed = new ServiceSlot<FileOpener>(std::make_shared<NoFileOpener>());
    return *installed;
}

} // namespace

std::shared_ptr<FileOpener> fileOpener() {
    return slot().get();
}

void installFileOpener(std::shared_ptr<FileOpener> service) {
    slot().set(std::move(service));
}

} // namespace vak
