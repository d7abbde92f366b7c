// What the Wayland clipboard costs the paste, and what it keeps: our data-control client
// against wl-clipboard's tools (one process per type read, one payload per restore), both on a
// private headless sway while a foot terminal holds the focus. The user's clipboard is rich:
// HTML, plain text and a 1 MB image, each with its own bytes, offered by another program.
#include "base/subprocess.h"
#include "base/time_util.h"
#include "platform/linux/wayland_client.h"
#include "platform/linux/wayland_clipboard.h"
#include "support/headless_sway.h"
#include "support/wait.h"

#include <benchmark/benchmark.h>

namespace {

using vak::PasteboardSnapshot;

vak::test::HeadlessSway& session() {
    static auto* sway = [] {
        auto* started = new vak::test::HeadlessSway();
        if (started->running()) {
            started->exec("foot");
            vak::test::waitUntil([&] { return started->focusedApp() == "foot"; });
        }
        return started;
    }();
    return *sway;
}

const PasteboardSnapshot& richContents() {
    static const PasteboardSnapshot contents = [] {
        std::string image(1 << 20, '\0');
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 131 % 251);
        return PasteboardSnapshot{{{{"text/html", "<p>the user's <b>rich</b> text</p>"},
                                    {"text/plain", "the user's rich text"},
                                    {"image/png", image}}}};
    }();
    return contents;
}

// Another program owning the rich contents, for as long as the benchmark runs.
std::shared_ptr<vak::DataControlPasteboard> userOwnsRichContents() {
    auto owner = vak::DataControlPasteboard::create(vak::WaylandClient::connect());
    if (owner) owner->write(richContents());
    return owner;
}

// How many of the rich contents' types another program reads back with their own bytes.
int typesKept() {
    int kept = 0;
    for (const auto& [type, bytes] : richContents().front().types) {
        const auto read = session().run({"/usr/bin/wl-paste", "--no-newline", "--type", type});
        if (read && read->status.success() && read->output == bytes) ++kept;
    }
    return kept;
}

bool skipWithoutSession(benchmark::State& state) {
    if (session().running()) return false;
    state.SkipWithError(("no headless sway: " + session().why()).c_str());
    return true;
}

// Our client: the snapshot before a paste (every type, the image included).
void BM_DataControlSnapshot(benchmark::State& state) {
    if (skipWithoutSession(state)) return;
    const auto owner = userOwnsRichContents();
    const auto board = vak::DataControlPasteboard::create(vak::WaylandClient::connect());
    std::size_t types = 0;
    for (auto _ : state) {
        const PasteboardSnapshot snapshot = board->snapshot();
        types = snapshot.empty() ? 0 : snapshot.front().types.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["types"] = static_cast<double>(types);
}
BENCHMARK(BM_DataControlSnapshot)->Unit(benchmark::kMillisecond);

// Our client: the paste's text, then the restore of the snapshot, each waiting for the
// compositor's announcement.
void BM_DataControlSetTextAndRestore(benchmark::State& state) {
    if (skipWithoutSession(state)) return;
    const auto owner = userOwnsRichContents();
    const auto board = vak::DataControlPasteboard::create(vak::WaylandClient::connect());
    const PasteboardSnapshot snapshot = board->snapshot();
    for (auto _ : state) {
        board->setText("dictated words");
        board->write(snapshot);
    }
    state.counters["types_kept"] = typesKept();
}
BENCHMARK(BM_DataControlSetTextAndRestore)->Unit(benchmark::kMillisecond);

// wl-clipboard instead: `wl-paste --list-types`, then one `wl-paste --type` per type.
void BM_WlPasteSnapshot(benchmark::State& state) {
    if (skipWithoutSession(state)) return;
    const auto owner = userOwnsRichContents();
    std::size_t types = 0;
    for (auto _ : state) {
        const auto list = session().run({"/usr/bin/wl-paste", "--list-types"});
        types = 0;
        std::size_t start = 0;
        const std::string& text = list ? list->output : std::string();
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            const std::string type = text.substr(start, end - start);
            start = end == std::string::npos ? text.size() : end + 1;
            const auto read = session().run({"/usr/bin/wl-paste", "--no-newline", "--type", type});
            if (read && read->status.success()) ++types;
        }
    }
    state.counters["types"] = static_cast<double>(types);
}
BENCHMARK(BM_WlPasteSnapshot)->Unit(benchmark::kMillisecond);

// wl-clipboard instead: the text with `wl-copy`, the restore with one more `wl-copy`, which can
// offer one payload only (the HTML here, as the richest text).
void BM_WlCopySetTextAndRestore(benchmark::State& state) {
    if (skipWithoutSession(state)) return;
    const auto owner = userOwnsRichContents();
    const std::string& html = richContents().front().types.front().second;
    for (auto _ : state) {
        session().run({"/usr/bin/wl-copy", "--type", "text/plain"}, std::string("dictated words"));
        session().run({"/usr/bin/wl-copy", "--type", "text/html"}, html);
    }
    state.counters["types_kept"] = typesKept();
}
BENCHMARK(BM_WlCopySetTextAndRestore)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
