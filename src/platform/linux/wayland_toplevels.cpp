#include "platform/linux/wayland_toplevels.h"

#include "base/unicode.h"
#include "platform/linux/wayland_client.h"
#include "platform/linux/wayland_listener.h"
#include "platform/linux/wayland_protocols.h"

#include <map>
#include <mutex>
#include <string>

#include <wayland-client.h>

namespace vak {

namespace {

constexpr double kToplevelsCallSeconds = 2.0;

struct ManagerListener {
    void (*toplevel)(void*, wl_proxy*, wl_proxy*);
    void (*finished)(void*, wl_proxy*);
};
struct HandleListener {
    void (*title)(void*, wl_proxy*, const char*);
    void (*appId)(void*, wl_proxy*, const char*);
    void (*outputEnter)(void*, wl_proxy*, wl_proxy*);
    void (*outputLeave)(void*, wl_proxy*, wl_proxy*);
    void (*state)(void*, wl_proxy*, wl_array*);
    void (*done)(void*, wl_proxy*);
    void (*closed)(void*, wl_proxy*);
    void (*parent)(void*, wl_proxy*, wl_proxy*);
};

} // namespace

struct ForeignToplevelApp::State {
    // Each window's app_id and activation as announced; a change counts at its "done".
    struct Window {
        std::string appId;
        bool activated = false;
        std::string pendingAppId;
        bool pendingActivated = false;
    };
    wl_proxy* manager = nullptr;         // connection thread
    std::map<wl_proxy*, Window> windows; // connection thread
    wl_proxy* active = nullptr;          // connection thread

    std::mutex mutex;
    std::string activeApp; // what identifier() answers

    void publish() {
        std::string app;
        if (active != nullptr) app = toLower(windows[active].appId);
        std::lock_guard lock(mutex);
        activeApp = std::move(app);
    }

    static void onToplevel(void* data, wl_proxy*, wl_proxy* handle) {
        auto* state = static_cast<State*>(data);
        state->windows[handle];
        static const HandleListener listener = {
            [](void*, wl_proxy*, const char*) {},
            [](void* d, wl_proxy* h, const char* id) {
                static_cast<State*>(d)->windows[h].pendingAppId = id;
            },
            [](void*, wl_proxy*, wl_proxy*) {},
            [](void*, wl_proxy*, wl_proxy*) {},
            [](void* d, wl_proxy* h, wl_array* states) {
                bool activated = false;
                const auto* values = static_cast<const std::uint32_t*>(states->data);
                for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
                    activated = activated || values[i] == wl::TOPLEVEL_STATE_ACTIVATED;
                static_cast<State*>(d)->windows[h].pendingActivated = activated;
            },
            onDone,
            onClosed,
            [](void*, wl_proxy*, wl_proxy*) {},
        };
        wl::addListener(handle, listener, state);
    }

    static void onDone(void* data, wl_proxy* handle) {
        auto* state = static_cast<State*>(data);
        Window& window = state->windows[handle];
        window.appId = window.pendingAppId;
        window.activated = window.pendingActivated;
        if (window.activated) {
            state->active = handle;
        } else if (state->active == handle) {
            state->active = nullptr;
        }
        state->publish();
    }

    static void onClosed(void* data, wl_proxy* handle) {
        auto* state = static_cast<State*>(data);
        state->windows.erase(handle);
        if (state->active == handle) state->active = nullptr;
        wl::destroy(handle, wl::request::toplevel_handle_destroy);
        state->publish();
    }

    static void onFinished(void* data, wl_proxy* manager) {
        auto* state = static_cast<State*>(data);
        wl_proxy_destroy(manager);
        state->manager = nullptr;
    }
};

std::shared_ptr<ForeignToplevelApp>
ForeignToplevelApp::create(std::shared_ptr<WaylandClient> client) {
    if (!client || !client->offers(wl::foreign_toplevel_manager.name)) return nullptr;
    auto state = std::make_shared<State>();
    auto bound = std::make_shared<bool>(false);
    // The round trip delivers every window that is already there.
    const bool ran = client->runAndSync(
        [state, bound, raw = client.get()] {
            state->manager = raw->bind(wl::foreign_toplevel_manager, 3);
            if (state->manager == nullptr) return;
            static const ManagerListener listener = {State::onToplevel, State::onFinished};
            wl::addListener(state->manager, listener, state.get());
            *bound = true;
        },
        kToplevelsCallSeconds);
    if (!ran || !*bound) return nullptr;
    std::shared_ptr<ForeignToplevelApp> app(new ForeignToplevelApp());
    app->client_ = std::move(client);
    app->state_ = std::move(state);
    return app;
}

ForeignToplevelApp::~ForeignToplevelApp() {
    client_->run(
        [state = state_] {
            for (auto& entry : state->windows)
                wl::destroy(entry.first, wl::request::toplevel_handle_destroy);
            state->windows.clear();
            state->active = nullptr;
            // "stop" asks for a "finished", which would come to a listener about to go: the
            // manager is simply dropped on our side.
            if (state->manager != nullptr) wl_proxy_destroy(state->manager);
            state->manager = nullptr;
        },
        kToplevelsCallSeconds);
}

FocusedApp ForeignToplevelApp::focused() {
    std::lock_guard lock(state_->mutex);
    return {true, state_->activeApp};
}

} // namespace vak
