#include "platform/file_opener.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until an opener is installed: nothing opens.
class NoFileOpener final : public FileOpener {
  public:
    bool open(const std::string&) override { return false; }
};

} // namespace

std::shared_ptr<FileOpener> fileOpener() {
    return serviceSlot<FileOpener, NoFileOpener>().get();
}

void installFileOpener(std::shared_ptr<FileOpener> service) {
    serviceSlot<FileOpener, NoFileOpener>().set(std::move(service));
}

} // namespace vak
