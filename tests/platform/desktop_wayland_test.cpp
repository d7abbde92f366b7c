// The Wayland backends against a real compositor: a private headless sway with a foot terminal
// holding the keyboard focus, wl-clipboard's tools as the other programs on the clipboard, and an
// xterm on XWayland.
#include "platform/linux/sway_ipc.h"
#include "platform/linux/wayland_client.h"
#include "platform/linux/wayland_clipboard.h"
#include "platform/linux/wayland_toplevels.h"
#include "platform/linux/x11_frontmost_app.h"
#include "platform/linux/xtest_key_synth.h"
#include "session/text_insertion.h"
#include "support/headless_desktop.h"
#include "support/manual_main_queue.h"
#include "support/wait.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using Selection = DataControlPasteboard::Selection;

TEST(WaylandDesktop, ClipboardAndFrontmostApplicationWhileAnotherWindowHasTheFocus) {
    test::HeadlessSway sway;
    if (!sway.running()) GTEST_SKIP() << "no headless sway: " << sway.why();
    const auto client = WaylandClient::connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(sway.exec("foot"));
    ASSERT_TRUE(test::waitUntil([&] { return sway.focusedApp() == "foot"; }));
    // What wl-paste, another program, reads of the clipboard (or the primary selection).
    const auto paste = [&](std::vector<std::string> command) {
        command.insert(command.begin(), {"/usr/bin/wl-paste", "--no-newline"});
        const auto result = sway.run(command);
        return result && result->status.success() ? result->output : "(nothing)";
    };

    // Another program offers three different payloads, a binary one among them.
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const PasteboardSnapshot rich = {
        {{{"text/html", "<b>earlier</b>"}, {"text/plain", "earlier"}, {"image/png", png}}}};
    auto other = DataControlPasteboard::create(WaylandClient::connect());
    ASSERT_TRUE(other);
    other->write(rich);

    auto board = DataControlPasteboard::create(client);
    ASSERT_TRUE(board);
    ASSERT_TRUE(test::waitUntil([&] { return board->snapshot() == rich; }));
    EXPECT_EQ(board->text(), "earlier");

    // Our text: counted the moment the write returns, and readable by everyone.
    const long before = board->changeCount();
    board->setText("dictated words");
    EXPECT_EQ(board->changeCount(), before + 1);
    EXPECT_EQ(paste({}), "dictated words");
    const std::string types = paste({"--list-types"});
    for (const char* type :
         {"text/plain;charset=utf-8", "UTF8_STRING", "x-kde-passwordManagerHint"})
        EXPECT_NE(types.find(type), std::string::npos) << types;

    // The restore gives back every type with its own bytes, binary ones too.
    board->write(rich);
    EXPECT_EQ(board->changeCount(), before + 2);
    EXPECT_EQ(paste({"--type", "image/png"}), png);
    EXPECT_EQ(paste({"--type", "text/html"}), "<b>earlier</b>");

    // A snapshot keeps to its size cap: what does not fit is left out.
    auto capped = DataControlPasteboard::create(client, Selection::Clipboard, {20, 2.0});
    ASSERT_TRUE(capped);
    const PasteboardSnapshot kept = capped->snapshot();
    ASSERT_EQ(kept.size(), 1u);
    for (const auto& [type, bytes] : kept.front().types)
        EXPECT_NE(type, "image/png");

    // Another program's copy is counted; an empty clipboard is empty.
    ASSERT_TRUE(sway.run({"/usr/bin/wl-copy", "--type", "text/plain"}, "from wl-copy"));
    ASSERT_TRUE(test::waitUntil([&] { return board->changeCount() > before + 2; }));
    EXPECT_EQ(board->text(), "from wl-copy");

    ASSERT_TRUE(sway.run({"/usr/bin/wl-copy", "--clear"}));
    ASSERT_TRUE(test::waitUntil([&] { return !board->text(); }));
    EXPECT_TRUE(board->snapshot().empty());

    // The primary selection is a second one, apart from the clipboard.
    auto primary = DataControlPasteboard::create(client, Selection::Primary);
    ASSERT_TRUE(primary);
    primary->setText("selected words");
    EXPECT_EQ(paste({"--primary"}), "selected words");
    EXPECT_FALSE(board->text());

    // The frontmost application as each backend reads it.
    auto swayApp = SwayFrontmostApp(std::make_shared<SwayIpc>(std::getenv("SWAYSOCK")));
    auto toplevels = ForeignToplevelApp::create(client);
    ASSERT_TRUE(toplevels);
    XWaylandFrontmostApp xwayland; // what GNOME and KDE leave: X11 windows only
    const std::vector<std::pair<const char*, FrontmostApp*>> backends = {
        {"sway's IPC", &swayApp}, {"foreign toplevel", toplevels.get()}, {"XWayland", &xwayland}};
    // XTest through XWayland types only where a backend tells an X11 window. XWayland never
    // says that nothing has the focus, as a native window may have it.
    XTestKeySynth xtest(true);
    const auto expect = [&](const std::vector<std::string>& apps, bool x11Window) {
        for (std::size_t i = 0; i < backends.size(); ++i) {
            const auto& [name, backend] = backends[i];
            EXPECT_TRUE(test::waitUntil(
                [&, reader = backend] { return reader->identifier() == apps[i]; }, 5))
                << name << " reads " << backend->identifier() << ", not " << apps[i];
            // Foreign toplevels alone cannot tell an X11 window from a native one.
            if (backend != toplevels.get()) {
                EXPECT_EQ(xtest.reaches(backend->focused()), x11Window) << name;
            }
        }
        EXPECT_TRUE(xwayland.focused().anyWindow);
    };
    expect({"foot", "foot", ""}, false);

    // A paste for foot through XTest alone is not sent: the text waits on the clipboard.
    test::ManualMainQueue queue;
    auto inserter = TextInserter::create(
        queue,
        {DataControlPasteboard::create(client), std::shared_ptr<KeySynth>(&xtest, [](auto*) {}),
         std::shared_ptr<FrontmostApp>(&swayApp, [](auto*) {}), nullptr});
    EXPECT_EQ(inserter->insert("kept words").outcome, InsertOutcome::Unreachable);
    queue.advance(TextInserter::kRestoreDelaySeconds + 1);
    EXPECT_EQ(paste({}), "kept words");

    ASSERT_TRUE(sway.exec("xterm -class VakXTerm"));
    ASSERT_TRUE(test::waitUntil([&] { return sway.focusedApp() == "vakxterm"; }, 20));
    expect({"vakxterm", "vakxterm", "vakxterm"}, true);

    // An empty workspace: no window is active, which sway tells.
    ASSERT_TRUE(sway.ipc().command("workspace 2"));
    expect({"", "", ""}, false);
    EXPECT_FALSE(swayApp.focused().anyWindow);
}

} // namespace
} // namespace vak
