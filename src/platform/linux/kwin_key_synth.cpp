#include "platform/linux/kwin_key_synth.h"

#include "platform/linux/key_translation.h"
#include "platform/linux/wayland_client.h"

#include <filesystem>
#include <memory>
#include <vector>

#include <fake-input-client-protocol.h>
#include <linux/input-event-codes.h>
#include <wayland-client.h>

namespace vak {

namespace {

constexpr const char* kFakeInput = "org_kde_kwin_fake_input";
// keyboard_key came with the fourth version (KWin 5.23).
constexpr std::uint32_t kKeyboardVersion = 4;
// KWin answers within milliseconds; a compositor that does not is not waited for.
constexpr double kKWinRoundTripSeconds = 2;

} // namespace

struct KwinKeySynth::State {
    org_kde_kwin_fake_input* input = nullptr; // on the client's thread only
};

bool isKwin(const WaylandClient& client) {
    for (const auto& [name, version] : client.globals()) {
        if (name.rfind("org_kde_kwin_", 0) == 0) return true;
    }
    return false;
}

std::string kwinFakeInputHelp() {
    std::error_code error;
    const auto self = std::filesystem::canonical("/proc/self/exe", error);
    return "KWin offers its fake-input keyboard only to a program whose installed desktop entry "
           "has Exec=" +
           (error ? std::string("<this program's path>") : self.string()) +
           " and X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input: install the package (or "
           "put such an entry in ~/.local/share/applications) and start vak-dictate again";
}

std::shared_ptr<KwinKeySynth> KwinKeySynth::create(std::shared_ptr<WaylandClient> client,
                                                   std::string* why) {
    if (!client || !client->offers(kFakeInput)) {
        *why = client && isKwin(*client) ? kwinFakeInputHelp() : "not KWin";
        return nullptr;
    }
    if (client->globals().at(kFakeInput) < kKeyboardVersion) {
        *why = "KWin's fake input has no keyboard before Plasma 5.23";
        return nullptr;
    }
    auto state = std::make_shared<State>();
    const bool ran = client->runAndSync(
        [state, raw = client.get()] {
            state->input = reinterpret_cast<org_kde_kwin_fake_input*>(
                raw->bind(org_kde_kwin_fake_input_interface, kKeyboardVersion));
            // KWin ignores a client's events until it has said who it is.
            if (state->input != nullptr) {
                org_kde_kwin_fake_input_authenticate(state->input, "vak-dictate",
                                                     "types the paste and copy shortcuts");
            }
        },
        kKWinRoundTripSeconds);
    if (!ran || state->input == nullptr) {
        *why = "KWin did not answer";
        return nullptr;
    }
    std::shared_ptr<KwinKeySynth> synth(new KwinKeySynth());
    synth->client_ = std::move(client);
    synth->state_ = std::move(state);
    return synth;
}

KwinKeySynth::~KwinKeySynth() {
    client_->run(
        [state = state_] {
            if (state->input != nullptr)
                wl_proxy_destroy(reinterpret_cast<wl_proxy*>(state->input));
            state->input = nullptr;
        },
        kKWinRoundTripSeconds);
}

bool KwinKeySynth::reaches(const FocusedApp& /*focus*/) {
    return client_->healthy();
}

bool KwinKeySynth::send(const KeyChord& chord) {
    const std::vector<std::uint16_t> keys = evdevKeysOf(chord);
    // The round trip: the keys are KWin's, in the focused window's queue, when this returns.
    auto sent = std::make_shared<bool>(false);
    return client_->runAndSync(
               [state = state_, keys, sent] {
                   if (state->input == nullptr) return;
                   *sent = true;
                   for (const std::uint16_t key : keys)
                       org_kde_kwin_fake_input_keyboard_key(state->input, key,
                                                            WL_KEYBOARD_KEY_STATE_PRESSED);
                   for (auto it = keys.rbegin(); it != keys.rend(); ++it)
                       org_kde_kwin_fake_input_keyboard_key(state->input, *it,
                                                            WL_KEYBOARD_KEY_STATE_RELEASED);
               },
               kKWinRoundTripSeconds) &&
           *sent;
}

} // namespace vak
