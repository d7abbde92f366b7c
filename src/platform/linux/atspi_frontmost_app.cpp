#include "platform/linux/atspi_frontmost_app.h"

#include "base/unicode.h"

#include <algorithm>
#include <memory>
#include <string>

#include <atspi/atspi.h>

namespace vak {

namespace {

// Each call is a round trip to another program; one that hangs is not waited for.
constexpr int kCallTimeoutMs = 500;
constexpr int kStartupTimeoutMs = 1000;
// More applications or windows than this are not a real desktop's.
constexpr int kMaxChildren = 256;

struct Unref {
    void operator()(void* object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, Unref>;
using StateSet = std::unique_ptr<AtspiStateSet, Unref>;

Accessible childAt(AtspiAccessible* parent, int index) {
    GError* error = nullptr;
    Accessible child(atspi_accessible_get_child_at_index(parent, index, &error));
    if (error != nullptr) g_error_free(error);
    return child;
}

int childCount(AtspiAccessible* parent) {
    GError* error = nullptr;
    const int count = atspi_accessible_get_child_count(parent, &error);
    if (error != nullptr) {
        g_error_free(error);
        return -1;
    }
    return std::min(count, kMaxChildren);
}

bool isActive(AtspiAccessible* window) {
    const StateSet states(atspi_accessible_get_state_set(window));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
}

std::string nameOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(accessible, &error);
    if (error != nullptr) g_error_free(error);
    std::string result = name != nullptr ? name : "";
    g_free(name);
    return result;
}

} // namespace

std::shared_ptr<AtspiFrontmostApp> AtspiFrontmostApp::create() {
    // 0 the first time, 1 when already done; anything else is no bus.
    if (atspi_init() > 1) return nullptr;
    atspi_set_timeout(kCallTimeoutMs, kStartupTimeoutMs);
    const Accessible desktop(atspi_get_desktop(0));
    if (!desktop || childCount(desktop.get()) < 0) return nullptr;
    return std::shared_ptr<AtspiFrontmostApp>(new AtspiFrontmostApp());
}

FocusedApp AtspiFrontmostApp::focused() {
    const Accessible desktop(atspi_get_desktop(0));
    if (!desktop) return {};
    const int apps = childCount(desktop.get());
    for (int i = 0; i < apps; ++i) {
        const Accessible app = childAt(desktop.get(), i);
        if (!app) continue;
        // States change without our hearing of it: read them afresh.
        atspi_accessible_clear_cache(app.get());
        const int windows = childCount(app.get());
        for (int j = 0; j < windows; ++j) {
            const Accessible window = childAt(app.get(), j);
            if (window && isActive(window.get())) return {true, toLower(nameOf(app.get()))};
        }
    }
    return {};
}

} // namespace vak
