#include "platform/linux/xinput_key_monitor.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "base/poll_thread.h"
#include "platform/linux/key_translation.h"
#include "platform/linux/xcb_connection.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace vak {

namespace {

// XInput 2.2 is the first version that reports raw events to every client, even while another
// one grabs the device.
bool hasXInput22(XcbConnection& x) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(x.raw(), &xcb_input_id);
    if (extension == nullptr || extension->present == 0) return false;
    const XcbReply<xcb_input_xi_query_version_reply_t> reply(xcb_input_xi_query_version_reply(
        x.raw(), xcb_input_xi_query_version(x.raw(), 2, 2), nullptr));
    return reply &&
           (reply->major_version > 2 || (reply->major_version == 2 && reply->minor_version >= 2));
}

bool selectRawEvents(XcbConnection& x) {
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{};
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
                XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    const auto cookie = xcb_input_xi_select_events_checked(x.raw(), x.root(), 1, &mask.head);
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(x.raw(), cookie));
    return error == nullptr;
}

std::array<std::uint32_t, 256> primaryKeysyms(XcbConnection& x) {
    std::array<std::uint32_t, 256> keysyms{};
    if (const auto map = x.keyboardMap()) {
        for (std::size_t code = 0; code < keysyms.size(); ++code) {
            keysyms[code] = map->primary(static_cast<std::uint8_t>(code));
        }
    }
    return keysyms;
}

} // namespace

struct XInputKeyMonitor::Reader {
    std::mutex mutex; // guards the handler and the query connection
    std::shared_ptr<const InputEventHandler> handler;
    std::atomic<bool> running{false};
    std::unique_ptr<XcbConnection> query; // for the trust question
    // The reading thread's own connection and key state.
    std::unique_ptr<XcbConnection> events;
    KeyTranslator keys;
    std::uint8_t xinputOpcode = 0;
    std::unique_ptr<PollThread> poller; // its hooks use everything above

    ~Reader() { poller.reset(); }

    // The query connection, reopened when the last one failed. Called with the mutex held.
    XcbConnection* queryConnection() {
        if (query && !query->healthy()) query.reset();
        if (!query) query = XcbConnection::open();
        return query.get();
    }

    void deliver(const InputEvent& event) {
        std::shared_ptr<const InputEventHandler> current;
        {
            std::lock_guard lock(mutex);
            current = handler;
        }
        if (!current) return;
        mainQueue().post([current, event] { (*current)(event); });
    }

    void handle(const xcb_generic_event_t* event) {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            keys.setKeysyms(primaryKeysyms(*events));
            return;
        }
        if (type != XCB_GE_GENERIC) return;
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (generic->extension != xinputOpcode) return;
        switch (generic->event_type) {
        case XCB_INPUT_RAW_KEY_PRESS:
        case XCB_INPUT_RAW_KEY_RELEASE: {
            const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
            if (raw->detail > 255) return;
            const auto keycode = static_cast<std::uint8_t>(raw->detail);
            const auto translated = generic->event_type == XCB_INPUT_RAW_KEY_PRESS
                                        ? keys.press(keycode, raw->time)
                                        : keys.release(keycode, raw->time);
            if (translated) deliver(*translated);
            return;
        }
        case XCB_INPUT_RAW_BUTTON_PRESS: {
            const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
            const bool wheel = raw->detail >= 4 && raw->detail <= 7;
            deliver(InputEvent{wheel ? InputEventKind::Scroll : InputEventKind::MouseDown,
                               UNKNOWN_KEY_CODE, keys.flags(), raw->time});
            return;
        }
        default:
            return;
        }
    }

    // Handles what has arrived, then waits for more; false once the display has gone.
    bool handleArrived() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(events->raw())) {
            handle(event);
            std::free(event);
        }
        if (!events->healthy()) {
            log(LogLevel::warning, "key monitor lost the X display — trigger key DISARMED");
            return false;
        }
        xcb_flush(events->raw());
        return true;
    }

    PollThread::Hooks hooks() {
        return {
            .prepare =
                [this](std::vector<pollfd>& fds, int&) {
                    if (!handleArrived()) return false;
                    fds.push_back({xcb_get_file_descriptor(events->raw()), POLLIN, 0});
                    return true;
                },
            .dispatch = [](const std::vector<pollfd>&) { return true; },
            .finish =
                [this] {
                    events.reset();
                    running.store(false);
                },
        };
    }
};

XInputKeyMonitor::XInputKeyMonitor() : reader_(std::make_unique<Reader>()) {}

XInputKeyMonitor::~XInputKeyMonitor() = default;

bool XInputKeyMonitor::isTrusted(bool /*prompt: there is nothing to prompt for on X11*/) {
    std::lock_guard lock(reader_->mutex);
    XcbConnection* x = reader_->queryConnection();
    return x != nullptr && hasXInput22(*x);
}

bool XInputKeyMonitor::secureInputActive() {
    // X11 has no question for "another client holds the keyboard": the only test is grabbing
    // it ourselves, which sends the focused window a focus-out and focus-in and can close its
    // popups (autocomplete lists, menus). Raw events reach us through other clients' grabs
    // anyway, so the veto does not get weaker under one.
    return false;
}

bool XInputKeyMonitor::start(InputEventHandler handler) {
    std::lock_guard lock(reader_->mutex);
    reader_->handler = std::make_shared<const InputEventHandler>(std::move(handler));
    if (reader_->running.load()) return true;
    reader_->poller.reset(); // a reader whose display went away
    std::string error;
    auto x = XcbConnection::open(&error);
    if (!x || !hasXInput22(*x) || !selectRawEvents(*x)) return false;
    KeyTranslator keys;
    keys.setKeysyms(primaryKeysyms(*x));
    // Keys already down when we start count in the flags until they are released.
    if (const auto held = x->heldKeys()) {
        for (std::size_t code = 0; code < held->size(); ++code) {
            if ((*held)[code]) keys.setHeld(static_cast<std::uint8_t>(code), true);
        }
    }
    reader_->xinputOpcode = xcb_get_extension_data(x->raw(), &xcb_input_id)->major_opcode;
    reader_->events = std::move(x);
    reader_->keys = keys;
    reader_->running.store(true);
    reader_->poller = PollThread::start(reader_->hooks(), &error);
    if (!reader_->poller) {
        reader_->running.store(false);
        reader_->events.reset();
        log(LogLevel::warning, "key monitor cannot read: " + error);
        return false;
    }
    return true;
}

} // namespace vak
