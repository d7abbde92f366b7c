// What GNOME's desktop services cost the daemon, for docs/PERFORMANCE.md.
//
//   vak-gnome-costs [ROUNDS]
//       Run inside a GNOME session (its session bus and accessibility bus): times making
//       mutter's remote-desktop keyboard ready, one Ctrl+C through it (which changes nothing
//       where nothing is selected) and one question to the accessibility bus for the active
//       application, ROUNDS times each (20 by default); prints the mean and the worst.
#include "platform/linux/atspi_frontmost_app.h"
#include "platform/linux/mutter_key_synth.h"

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

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    vak::MutterKeySynth keys;
    bool ready = false;
    std::printf("%-52s %7.2f ms\n", "mutter keyboard ready (session made, at start-up)",
                millisecondsOf([&] { ready = keys.available(); }));
    if (!ready) {
        std::printf("no remote desktop: %s\n", keys.why().c_str());
        return 1;
    }
    report("one shortcut (Ctrl+C) through mutter", rounds, [&] {
        keys.send({true, false, false, vak::ChordKey::C});
    });
    std::shared_ptr<vak::AtspiFrontmostApp> app;
    std::printf("%-52s %7.2f ms\n", "accessibility bus reached (at start-up)",
                millisecondsOf([&] { app = vak::AtspiFrontmostApp::create(); }));
    if (!app) return 1;
    std::string name;
    report("active application through the accessibility bus", rounds,
           [&] { name = app->identifier(); });
    std::printf("active application: %s\n", name.empty() ? "(unknown)" : name.c_str());
    return 0;
}
