// What the Wayland desktops' own services cost the daemon, for docs/PERFORMANCE.md.
//
//   vak-desktop-costs gnome [ROUNDS]
//       Run inside a GNOME session (its session bus and accessibility bus): times making
//       mutter's remote-desktop keyboard ready, one Ctrl+C through it (which changes nothing
//       where nothing is selected) and one question to the accessibility bus for the active
//       application, ROUNDS times each (20 by default); prints the mean and the worst.
//   vak-desktop-costs kwin [ROUNDS]
//       Run inside a KDE Plasma session, from a path a desktop entry lists with KWin's fake
//       input: times connecting to KWin, making its fake-input keyboard ready, one Ctrl+C through
//       it, loading the KWin script that reports the active window, and reading that report.
#include "platform/linux/atspi_frontmost_app.h"
#include "platform/linux/kwin_frontmost_app.h"
#include "platform/linux/kwin_key_synth.h"
#include "platform/linux/mutter_key_synth.h"
#include "platform/linux/wayland_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

double millisecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void once(const char* what, const std::function<void()>& work) {
    std::printf("%-52s %7.2f ms\n", what, millisecondsOf(work));
}

void report(const char* what, int rounds, const std::function<void()>& work) {
    double total = 0;
    double worst = 0;
    for (int i = 0; i < rounds; ++i) {
        const double ms = millisecondsOf(work);
        total += ms;
        worst = std::max(worst, ms);
    }
    std::printf("%-52s mean %7.2f ms, worst %7.2f ms\n", what, total / rounds, worst);
}

int gnome(int rounds) {
    vak::MutterKeySynth keys;
    bool ready = false;
    once("mutter keyboard ready (session made, at start-up)", [&] { ready = keys.available(); });
    if (!ready) {
        std::printf("no remote desktop: %s\n", keys.why().c_str());
        return 1;
    }
    report("one shortcut (Ctrl+C) through mutter", rounds, [&] {
        keys.send({true, false, false, vak::ChordKey::C});
    });
    std::shared_ptr<vak::AtspiFrontmostApp> app;
    once("accessibility bus reached (at start-up)",
         [&] { app = vak::AtspiFrontmostApp::create(); });
    if (!app) return 1;
    std::string name;
    report("active application through the accessibility bus", rounds,
           [&] { name = app->identifier(); });
    std::printf("active application: %s\n", name.empty() ? "(unknown)" : name.c_str());
    return 0;
}

int kwin(int rounds) {
    std::shared_ptr<vak::WaylandClient> client;
    once("connected to KWin (globals listed, at start-up)",
         [&] { client = vak::WaylandClient::connect(); });
    if (!client) return 1;
    std::shared_ptr<vak::KwinKeySynth> keys;
    std::string why;
    once("fake-input keyboard ready (at start-up)",
         [&] { keys = vak::KwinKeySynth::create(client, &why); });
    if (!keys) {
        std::printf("no fake input: %s\n", why.c_str());
        return 1;
    }
    report("one shortcut (Ctrl+C) through fake input", rounds, [&] {
        keys->send({true, false, false, vak::ChordKey::C});
    });
    std::shared_ptr<vak::KwinFrontmostApp> app;
    once("KWin script loaded and reporting (at start-up)",
         [&] { app = vak::KwinFrontmostApp::create(&why); });
    if (!app) {
        std::printf("no KWin script: %s\n", why.c_str());
        return 1;
    }
    std::string name;
    report("active application from the script's report", rounds,
           [&] { name = app->identifier(); });
    std::printf("active application: %s\n", name.empty() ? "(unknown)" : name.c_str());
    once("KWin script unloaded (at the end)", [&] { app.reset(); });
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string desktop = argc > 1 ? argv[1] : "";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    if (desktop == "gnome") return gnome(rounds);
    if (desktop == "kwin") return kwin(rounds);
    std::fprintf(stderr, "usage: vak-desktop-costs gnome|kwin [ROUNDS]\n");
    return 2;
}
