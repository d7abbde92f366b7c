#include "platform/linux/wayland_clipboard.h"

#include "base/files.h"
#include "base/time_util.h"
#include "platform/linux/wayland_client.h"
#include "platform/linux/wayland_listener.h"
#include "platform/linux/wayland_protocols.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

namespace vak {

namespace {

// How long one exchange with the compositor may take before the clipboard counts as gone.
constexpr double kClipboardCallSeconds = 2.0;

// The types text is offered under, most specific first: what Wayland and X11 programs ask for.
constexpr std::array<std::string_view, 5> kTextTypes = {"text/plain;charset=utf-8", "text/plain",
                                                        "UTF8_STRING", "TEXT", "STRING"};

// X11 selection protocol targets that a bridged X11 owner may list; they are not data.
bool isProtocolTarget(std::string_view type) {
    return type == "TARGETS" || type == "TIMESTAMP" || type == "MULTIPLE" ||
           type == "SAVE_TARGETS" || type == "DELETE" || type == "INCR";
}

using Payload = std::vector<std::pair<std::string, std::shared_ptr<const std::string>>>;

struct DeviceListener {
    void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
    void (*selection)(void*, wl_proxy*, wl_proxy*);
    void (*finished)(void*, wl_proxy*);
    void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
};
struct OfferListener {
    void (*offer)(void*, wl_proxy*, const char*);
};
struct SourceListener {
    void (*send)(void*, wl_proxy*, const char*, std::int32_t);
    void (*cancelled)(void*, wl_proxy*);
};

// Reads `fd` to its end, within `deadline` and `limit` bytes; nothing when either runs out or
// the read fails.
std::optional<std::string> readAll(int fd, SteadyClock::time_point deadline, std::size_t limit) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) return std::nullopt;
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(n) > limit) return std::nullopt;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

// Everything here but the counters belongs to the connection's thread.
struct DataControlPasteboard::State {
    WaylandClient* client = nullptr;
    Selection which = Selection::Clipboard;
    wl_proxy* manager = nullptr;
    wl_proxy* device = nullptr;
    // The current selection's offer (null when the clipboard is empty) and the types of every
    // offer announced and not yet destroyed.
    wl_proxy* current = nullptr;
    std::map<wl_proxy*, std::vector<std::string>> offerTypes;
    // Our sources and what each one serves.
    std::map<wl_proxy*, Payload> sources;
    // Bumps with each selection, so a read can tell it still reads the same one.
    std::uint64_t generation = 0;

    std::atomic<long> changes{0};
    // The source of our last setText, and the requests for its text.
    wl_proxy* textSource = nullptr;
    std::atomic<long> textReads{0};

    static void onDataOffer(void* data, wl_proxy*, wl_proxy* offer);
    static void onSelection(void* data, wl_proxy*, wl_proxy* offer);
    static void onFinished(void* data, wl_proxy*);
    static void onPrimarySelection(void* data, wl_proxy*, wl_proxy* offer);
    static void onOfferType(void* data, wl_proxy* offer, const char* type);
    static void onSend(void* data, wl_proxy* source, const char* type, std::int32_t fd);
    static void onCancelled(void* data, wl_proxy* source);

    void announce(Selection selection, wl_proxy* offer);

    void dropOffer(wl_proxy* offer) {
        if (offer == nullptr) return;
        offerTypes.erase(offer);
        wl::destroy(offer, wl::request::offer_destroy);
    }

    // Offers `payload` as the selection (an empty one clears it); returns its source.
    wl_proxy* select(Payload payload) {
        if (device == nullptr) return nullptr;
        wl_proxy* source = nullptr;
        if (!payload.empty()) {
            source = wl_proxy_marshal_flags(manager, wl::request::manager_create_data_source,
                                            &wl::data_control_source, wl_proxy_get_version(manager),
                                            0, nullptr);
            static const SourceListener listener = {onSend, onCancelled};
            wl::addListener(source, listener, this);
            for (const auto& entry : payload) {
                wl_proxy_marshal_flags(source, wl::request::source_offer, nullptr,
                                       wl_proxy_get_version(source), 0, entry.first.c_str());
            }
            sources.emplace(source, std::move(payload));
        }
        wl_proxy_marshal_flags(device,
                               which == Selection::Clipboard
                                   ? wl::request::device_set_selection
                                   : wl::request::device_set_primary_selection,
                               nullptr, wl_proxy_get_version(device), 0, source);
        return source;
    }
};

void DataControlPasteboard::State::onDataOffer(void* data, wl_proxy*, wl_proxy* offer) {
    auto* state = static_cast<State*>(data);
    state->offerTypes[offer];
    static const OfferListener listener = {onOfferType};
    wl::addListener(offer, listener, state);
}

void DataControlPasteboard::State::onOfferType(void* data, wl_proxy* offer, const char* type) {
    auto* state = static_cast<State*>(data);
    auto& types = state->offerTypes[offer];
    if (std::find(types.begin(), types.end(), type) == types.end()) types.emplace_back(type);
}

void DataControlPasteboard::State::announce(Selection selection, wl_proxy* offer) {
    // The device reports both selections; an offer of the other one is not kept.
    if (selection != which) {
        dropOffer(offer);
        return;
    }
    if (current != offer) dropOffer(current);
    current = offer;
    ++generation;
    changes.fetch_add(1);
}

void DataControlPasteboard::State::onSelection(void* data, wl_proxy*, wl_proxy* offer) {
    static_cast<State*>(data)->announce(Selection::Clipboard, offer);
}

void DataControlPasteboard::State::onPrimarySelection(void* data, wl_proxy*, wl_proxy* offer) {
    static_cast<State*>(data)->announce(Selection::Primary, offer);
}

void DataControlPasteboard::State::onFinished(void* data, wl_proxy*) {
    // The seat went away: the clipboard reads as empty and writes go nowhere from now on.
    auto* state = static_cast<State*>(data);
    state->dropOffer(state->current);
    state->current = nullptr;
    wl::destroy(state->device, wl::request::device_destroy);
    state->device = nullptr;
}

void DataControlPasteboard::State::onSend(void* data, wl_proxy* source, const char* type,
                                          std::int32_t fd) {
    auto* state = static_cast<State*>(data);
    const auto found = state->sources.find(source);
    if (found != state->sources.end()) {
        for (const auto& [offered, bytes] : found->second) {
            if (offered == type) {
                if (source == state->textSource &&
                    std::find(kTextTypes.begin(), kTextTypes.end(), offered) != kTextTypes.end())
                    state->textReads.fetch_add(1);
                state->client->serve(fd, bytes);
                return;
            }
        }
    }
    ::close(fd);
}

void DataControlPasteboard::State::onCancelled(void* data, wl_proxy* source) {
    auto* state = static_cast<State*>(data);
    state->sources.erase(source);
    wl::destroy(source, wl::request::source_destroy);
}

std::shared_ptr<DataControlPasteboard>
DataControlPasteboard::create(std::shared_ptr<WaylandClient> client, Selection selection,
                              PasteboardLimits limits) {
    // The primary selection came with the protocol's second version.
    const std::uint32_t version = selection == Selection::Primary ? 2 : 1;
    if (!client || client->globals().count(wl::data_control_manager.name) == 0 ||
        client->globals().at(wl::data_control_manager.name) < version) {
        return nullptr;
    }
    auto state = std::make_shared<State>();
    state->client = client.get();
    state->which = selection;
    auto bound = std::make_shared<bool>(false);
    const bool ran = client->runAndSync(
        [state, bound, version, raw = client.get()] {
            if (raw->seat() == nullptr) return;
            state->manager = raw->bind(wl::data_control_manager, version);
            if (state->manager == nullptr) return;
            state->device = wl_proxy_marshal_flags(
                state->manager, wl::request::manager_get_data_device, &wl::data_control_device,
                wl_proxy_get_version(state->manager), 0, nullptr, raw->seat());
            static const DeviceListener listener = {State::onDataOffer, State::onSelection,
                                                    State::onFinished, State::onPrimarySelection};
            wl::addListener(state->device, listener, state.get());
            *bound = true;
        },
        kClipboardCallSeconds);
    if (!ran || !*bound) return nullptr;
    std::shared_ptr<DataControlPasteboard> board(new DataControlPasteboard());
    board->client_ = std::move(client);
    board->limits_ = limits;
    board->state_ = std::move(state);
    return board;
}

DataControlPasteboard::~DataControlPasteboard() {
    client_->run(
        [state = state_] {
            for (auto& entry : state->sources)
                wl::destroy(entry.first, wl::request::source_destroy);
            state->sources.clear();
            state->dropOffer(state->current);
            state->current = nullptr;
            for (auto& entry : state->offerTypes)
                wl::destroy(entry.first, wl::request::offer_destroy);
            state->offerTypes.clear();
            if (state->device != nullptr) wl::destroy(state->device, wl::request::device_destroy);
            if (state->manager != nullptr)
                wl::destroy(state->manager, wl::request::manager_destroy);
            state->device = state->manager = nullptr;
        },
        kClipboardCallSeconds);
}

long DataControlPasteboard::changeCount() {
    return state_->changes.load();
}

DataControlPasteboard::Offered DataControlPasteboard::offered() {
    auto offered = std::make_shared<Offered>();
    const bool ran = client_->run(
        [state = state_, offered] {
            if (state->current != nullptr) offered->types = state->offerTypes[state->current];
            offered->generation = state->generation;
        },
        kClipboardCallSeconds);
    return ran ? *offered : Offered{};
}

std::optional<std::string> DataControlPasteboard::receive(const Offered& offered,
                                                          const std::string& type,
                                                          SteadyClock::time_point deadline,
                                                          std::size_t limit) {
    auto readEnd = std::make_shared<int>(-1);
    const bool asked = client_->run(
        [state = state_, readEnd, type, generation = offered.generation] {
            // The selection changed since its types were listed: what it holds now is not it.
            if (state->current == nullptr || state->generation != generation) return;
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) return;
            wl_proxy_marshal_flags(state->current, wl::request::offer_receive, nullptr,
                                   wl_proxy_get_version(state->current), 0, type.c_str(), fds[1]);
            ::close(fds[1]); // the request carries its own copy
            *readEnd = fds[0];
        },
        kClipboardCallSeconds);
    if (!asked || *readEnd < 0) return std::nullopt;
    const UniqueFd fd(*readEnd);
    return readAll(fd.get(), deadline, limit);
}

PasteboardSnapshot DataControlPasteboard::snapshot() {
    const Offered current = offered();
    const auto deadline = deadlineAfter(limits_.maxReadSeconds);
    PasteboardItem item;
    std::size_t total = 0;
    for (const std::string& type : current.types) {
        if (isProtocolTarget(type)) continue;
        if (SteadyClock::now() > deadline) break;
        const auto bytes = receive(current, type, deadline, limits_.maxBytes - total);
        if (!bytes) continue;
        total += bytes->size();
        item.types.emplace_back(type, *bytes);
    }
    if (item.types.empty()) return {};
    return {std::move(item)};
}

std::optional<std::string> DataControlPasteboard::text() {
    const Offered current = offered();
    for (const std::string_view wanted : kTextTypes) {
        const auto found = std::find(current.types.begin(), current.types.end(), wanted);
        if (found != current.types.end()) {
            return receive(current, *found, deadlineAfter(limits_.maxReadSeconds),
                           limits_.maxBytes);
        }
    }
    return std::nullopt;
}

void DataControlPasteboard::clear() {
    client_->runAndSync(
        [state = state_] {
            state->select({});
            state->textSource = nullptr;
        },
        kClipboardCallSeconds);
}

void DataControlPasteboard::setText(std::string_view text) {
    Payload payload;
    const auto bytes = std::make_shared<const std::string>(text);
    for (const std::string_view type : kTextTypes)
        payload.emplace_back(std::string(type), bytes);
    // Marks our own transient text, so clipboard managers and history tools leave it out.
    for (const ClipboardMarker& marker : TRANSIENT_MARKERS)
        payload.emplace_back(std::string(marker.type),
                             std::make_shared<const std::string>(marker.value));
    client_->runAndSync(
        [state = state_, payload = std::move(payload)]() mutable {
            state->textReads.store(0);
            state->textSource = state->select(std::move(payload));
        },
        kClipboardCallSeconds);
}

std::optional<long> DataControlPasteboard::readCount() {
    return state_->textReads.load();
}

void DataControlPasteboard::write(const PasteboardSnapshot& snapshot) {
    // The Wayland clipboard holds one item; types that appear in several items keep their first
    // data.
    Payload payload;
    for (const PasteboardItem& item : snapshot) {
        for (const auto& [type, bytes] : item.types) {
            const bool seen =
                std::any_of(payload.begin(), payload.end(),
                            [&name = type](const auto& entry) { return entry.first == name; });
            if (!seen) payload.emplace_back(type, std::make_shared<const std::string>(bytes));
        }
    }
    client_->runAndSync(
        [state = state_, payload = std::move(payload)]() mutable {
            state->select(std::move(payload));
            state->textSource = nullptr;
        },
        kClipboardCallSeconds);
}

} // namespace vak
