#include "platform/pasteboard.h"

#include "platform/service_slot.h"

namespace vak {

namespace {

// Stands in until a pasteboard is installed: always empty.
class NoPasteboard final : public Pasteboard {
  public:
    long changeCount() override { return 0; }
    PasteboardSnapshot snapshot() override { return {}; }
    std::optional<std::string> text() override { return std::nullopt; }
    void clear() override {}
    void setText(std::string_view) override {}
    void write(const PasteboardSnapshot&) override {}
};

} // namespace

std::shared_ptr<Pasteboard> pasteboard() {
    return serviceSlot<Pasteboard, NoPasteboard>().get();
}

void installPasteboard(std::shared_ptr<Pasteboard> service) {
    serviceSlot<Pasteboard, NoPasteboard>().set(std::move(service));
}

namespace {
// A slot of its own: the same interface, a second service. Never destroyed, like the others.
ServiceSlot<Pasteboard>& primarySlot() {
    static auto* slot = new ServiceSlot<Pasteboard>(std::make_shared<NoPasteboard>());
    return *slot;
}
} // namespace

std::shared_ptr<Pasteboard> primarySelection() {
    return primarySlot().get();
}

void installPrimarySelection(std::shared_ptr<Pasteboard> service) {
    primarySlot().set(std::move(service));
}

} // namespace vak
