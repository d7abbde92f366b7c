// The session's two trips through the pasteboard, against fakes: pasting text in with the user's
// contents restored afterwards, and copying the focused application's selection out.
#include "base/unicode.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_pasteboard.h"
#include "platform/linux/terminal_families.h"
#include "session/selection_copy.h"
#include "session/text_insertion.h"
#include "support/manual_main_queue.h"

#include <optional>

#include <gtest/gtest.h>

namespace vak {
namespace {

PasteboardSnapshot richContents() {
    return {
        PasteboardItem{{{"text/plain", "earlier"},
                        {"text/html", "<b>earlier</b>"},
                        {"application/x-vak-test", std::string("\0\x01\xff", 3)}}},
        PasteboardItem{{{"text/uri-list", "file:///tmp/a\r\n"}, {"image/png", "\x89PNG"}}},
    };
}

constexpr KeyChord kCtrlV{true, false, false, ChordKey::V};

// The desktop as the session sees it: a pasteboard and the PRIMARY selection, synthetic keys
// and the focused application.
struct Desk : ::testing::Test {
    TextInserter::Services services() { return {board, keys, app, primary}; }
    // A fresh desktop for the next row of a table, the clipboard holding `before`.
    void fresh(std::optional<std::string> before = "earlier") {
        board = std::make_shared<FakePasteboard>();
        primary = std::make_shared<FakePasteboard>();
        keys = std::make_shared<FakeKeySynth>();
        if (before) board->copyFromOtherApp({plainTextItem(*before)});
    }

    test::ManualMainQueue queue;
    std::shared_ptr<FakePasteboard> board = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakePasteboard> primary = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakeKeySynth> keys = std::make_shared<FakeKeySynth>();
    std::shared_ptr<FakeFrontmostApp> app = std::make_shared<FakeFrontmostApp>();
};

struct Insertion : Desk {
    std::shared_ptr<TextInserter> make() { return TextInserter::create(queue, services()); }
};

TEST_F(Insertion, PastesTheTextAndBringsTheUsersContentsBackWhole) {
    board->copyFromOtherApp(richContents());
    app->id = "org.gnome.texteditor";
    auto inserter = make();
    keys->onSend = [&](const KeyChord&) {
        // At the moment of the paste the pasteboard holds our text, in the editor's typography
        // and marked transient.
        EXPECT_EQ(board->text(), "it\u2019s done\u2026");
        EXPECT_TRUE(board->holdsTransientText());
    };
    EXPECT_EQ(inserter->insert("it's done...").outcome, InsertOutcome::Pasted);
    EXPECT_EQ(keys->sent, std::vector<KeyChord>{kCtrlV});
    EXPECT_EQ(primary->changeCount(), 0); // an editor pastes the clipboard alone
    queue.advance(1.49);
    EXPECT_EQ(board->text(), "it\u2019s done\u2026");
    queue.advance(0.02);
    EXPECT_EQ(board->contents(), richContents());
    EXPECT_FALSE(board->holdsTransientText());
    // Text with code in it keeps its plain quotes, which a shell or a compiler needs.
    keys->onSend = nullptr;
    inserter->insert("run `it's` now...");
    EXPECT_EQ(board->text(), "run `it's` now...");
}

// Where the key follows the clipboard write after a lead, the outcome is told only once the key
// was sent: a key that fails then is no paste, and the text stays for the user.
TEST_F(Insertion, WithALeadTheOutcomeWaitsForThePasteKey) {
    struct Case {
        const char* what;
        bool fails;
        InsertOutcome outcome;
        const char* clipboardAfter;
    };
    for (const Case& c : {Case{"sent", false, InsertOutcome::Pasted, "earlier"},
                          Case{"refused", true, InsertOutcome::KeysFailed, "dictated"}}) {
        SCOPED_TRACE(c.what);
        fresh();
        keys->lead = 0.15;
        keys->fails = c.fails;
        auto inserter = make();
        std::optional<InsertOutcome> told;
        inserter->insert("dictated", [&](const InsertResult& result) { told = result.outcome; });
        EXPECT_FALSE(told);
        EXPECT_TRUE(keys->sent.empty());
        queue.advance(0.2);
        ASSERT_TRUE(told);
        EXPECT_EQ(*told, c.outcome);
        EXPECT_EQ(keys->sent.size(), 1u);
        queue.advance(TextInserter::kRestoreBoundSeconds + 1);
        EXPECT_EQ(board->text(), c.clipboardAfter);
    }
}

TEST_F(Insertion, WhereReadsAreSeenTheRestoreWaitsForTheApplicationsRead) {
    struct Case {
        const char* what;
        bool focusedOnly;             // reads are the focused application's (X11)
        std::optional<double> readAt; // seconds after the paste; none: never
        double restoredAt;            // when the user's contents are back
    };
    const Case cases[] = {
        {"a quick read", true, 0.15, 0.5},
        {"a busy editor reading late", true, 2.45, 2.8},
        {"anyone's read (a manager) keeps the fixed delay", false, 0.05, 1.5},
        {"anyone's late read", false, 2.45, 2.8},
        {"no read: the bound", true, std::nullopt, 8.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        board->seeReads(c.focusedOnly);
        auto inserter = make();
        ASSERT_EQ(inserter->insert("dictated").outcome, InsertOutcome::Pasted);
        double now = 0;
        const auto advanceTo = [&](double t) {
            queue.advance(t - now);
            now = t;
        };
        if (c.readAt) {
            advanceTo(*c.readAt);
            EXPECT_EQ(board->text(), "dictated");
            board->readByApp();
        }
        advanceTo(c.restoredAt - 0.05);
        EXPECT_EQ(board->text(), "dictated");
        advanceTo(c.restoredAt + 0.05);
        EXPECT_EQ(board->text(), "earlier");
    }
}

TEST_F(Insertion, TheRestoreStandsAsideWhenThereIsNothingToRestoreOrTheUserCopied) {
    struct Case {
        const char* what;
        std::optional<std::string> before;
        bool copyMeanwhile, inserterGone;
        std::string after;
    };
    for (const Case& c : {Case{"empty before", std::nullopt, false, false, "hello"},
                          Case{"a copy after the paste", "before", true, false, "copied meanwhile"},
                          Case{"inserter gone", "before", false, true, "hello"}}) {
        SCOPED_TRACE(c.what);
        fresh(c.before);
        auto inserter = make();
        inserter->insert("hello");
        queue.advance(1.0);
        if (c.copyMeanwhile) board->copyFromOtherApp({plainTextItem("copied meanwhile")});
        if (c.inserterGone) inserter.reset();
        queue.advance(1.0);
        EXPECT_EQ(board->text(), c.after);
    }
}

TEST_F(Insertion, QuickPastesRestoreTheContentsFromBeforeTheFirst) {
    board->copyFromOtherApp({plainTextItem("user's own")});
    auto inserter = make();
    inserter->insert("first");
    queue.advance(0.5);
    inserter->insert("second");
    EXPECT_EQ(board->snapshotsTaken(), 1);
    queue.advance(1.0); // the first restore is due and must stand aside
    EXPECT_EQ(board->text(), "second");
    queue.advance(0.6);
    EXPECT_EQ(board->text(), "user's own");
    // After a restore the next paste snapshots afresh (the restore moved the count on).
    board->copyFromOtherApp({plainTextItem("newer")});
    inserter->insert("third");
    queue.advance(2);
    EXPECT_EQ(board->snapshotsTaken(), 2);
    EXPECT_EQ(board->text(), "newer");
}

TEST_F(Insertion, EachTerminalFamilyGetsItsOwnPasteKeyAndXtermsReadPrimaryToo) {
    constexpr KeyChord kCtrlShiftV{true, true, false, ChordKey::V};
    constexpr KeyChord kShiftInsert{false, true, false, ChordKey::Insert};
    // A terminal of each family (rxvt pastes as xterm does); the text as typed, in plain quotes.
    const std::string command = "echo 'it's done...'";
    struct Case {
        const char* app;
        KeyChord paste;
    };
    for (const Case& c : {Case{"xterm", kShiftInsert}, Case{"urxvt", kShiftInsert},
                          Case{"org.gnome.terminal", kCtrlShiftV},
                          Case{"org.kde.konsole", kCtrlShiftV}, Case{"kitty", kCtrlShiftV}}) {
        SCOPED_TRACE(c.app);
        fresh("clipboard before");
        primary->copyFromOtherApp({plainTextItem("selected before")});
        app->id = c.app;
        std::optional<std::string> boardAtPaste, primaryAtPaste;
        keys->onSend = [&](const KeyChord&) {
            boardAtPaste = board->text();
            primaryAtPaste = primary->text();
        };
        auto inserter = make();
        inserter->insert(command);
        EXPECT_EQ(keys->sent, std::vector<KeyChord>{c.paste});
        EXPECT_EQ(boardAtPaste, command);
        const bool readsPrimary = c.paste == kShiftInsert;
        EXPECT_EQ(primaryAtPaste, readsPrimary ? command : "selected before");
        queue.advance(1.6);
        // Both come back as they were.
        EXPECT_EQ(board->text(), "clipboard before");
        EXPECT_EQ(primary->text(), "selected before");
    }
    // PRIMARY that was empty goes back to empty; a selection made meanwhile stays.
    for (const bool selectMeanwhile : {false, true}) {
        fresh();
        app->id = "xterm";
        auto inserter = make();
        inserter->insert("echo hi");
        if (selectMeanwhile) primary->copyFromOtherApp({plainTextItem("newly selected")});
        queue.advance(1.6);
        EXPECT_EQ(primary->text(),
                  selectMeanwhile ? std::optional<std::string>("newly selected") : std::nullopt);
    }
}

TEST_F(Insertion, TextThatCannotArriveStaysOnTheClipboardUntypedAndCountsAsTheUsers) {
    using P = WindowProtocol;
    using O = InsertOutcome;
    struct Case {
        const char* name;
        bool anyWindow;
        WindowProtocol protocol;
        bool x11WindowsOnly; // XTest through XWayland
        bool keysFail;
        InsertOutcome outcome;
    };
    for (const Case& c : {
             Case{"every window minimised", false, P::Unknown, false, false, O::NothingFocused},
             Case{"a virtual keyboard, native window", true, P::Wayland, false, false, O::Pasted},
             Case{"XTest, X11 window", true, P::X11, true, false, O::Pasted},
             Case{"XTest, native window", true, P::Wayland, true, false, O::Unreachable},
             Case{"XTest, a window it cannot tell", true, P::Unknown, true, false, O::Unreachable},
             Case{"keys refused", true, P::X11, false, true, O::KeysFailed},
         }) {
        SCOPED_TRACE(c.name);
        fresh("user's own");
        app->id = "foot";
        app->nothingFocused = !c.anyWindow;
        app->protocol = c.protocol;
        keys->x11WindowsOnly = c.x11WindowsOnly;
        keys->fails = c.keysFail;
        auto inserter = make();
        const InsertResult result = inserter->insert("lost words");
        EXPECT_EQ(result.outcome, c.outcome);
        // What the user presses instead is the application's own paste key (none is known
        // while nothing has the focus).
        EXPECT_EQ(result.pasteKey, pasteStyleFor(c.anyWindow ? "foot" : "").paste);
        const bool typed = c.outcome == O::Pasted || c.outcome == O::KeysFailed;
        EXPECT_EQ(keys->sent.size(), typed ? 1u : 0u);
        queue.advance(5);
        EXPECT_EQ(board->text(), c.outcome == O::Pasted ? "user's own" : "lost words");
        if (c.outcome == O::Pasted) continue;
        // The next paste that arrives keeps it for the user: it is what comes back afterwards.
        app->nothingFocused = false;
        app->protocol = P::X11;
        keys->fails = false;
        EXPECT_EQ(inserter->insert("next words").outcome, O::Pasted);
        queue.advance(1.6);
        EXPECT_EQ(board->text(), "lost words");
    }
}

TEST(PasteStyles, OnlyListedTerminalsDifferAndEachIdBelongsToOneFamily) {
    for (const char* id : {"", "firefox", "terminal-notes", "org.example.terminalish", "kittybox"})
        EXPECT_EQ(pasteStyleFor(id), STANDARD_PASTE_STYLE) << id;
    EXPECT_EQ(terminalFamilyOf("com.mitchellh.ghostty")->name, "standalone");
    for (const TerminalFamily& family : terminalFamilies()) {
        for (const std::string_view id : family.apps) {
            EXPECT_EQ(std::string(id), toLower(id)) << "identifiers are compared lower-cased";
            EXPECT_EQ(terminalFamilyOf(id), &family) << id;
        }
    }
}

struct SelectionCopy : Desk {
    // The focused application: on Copy it puts `selected` on the pasteboard (unless it has
    // nothing to copy).
    void SetUp() override {
        keys->onSend = [this](const KeyChord& chord) {
            if (chord.key == ChordKey::C && selected) {
                board->copyFromOtherApp({plainTextItem(*selected)});
            }
        };
        app->id = "org.gnome.texteditor";
    }

    // Runs a copy and returns what `done` got, checking it came only after the wait.
    std::optional<std::string> copy() {
        bool answered = false;
        std::optional<std::string> result;
        copySelection(queue, services(), [&](std::optional<std::string> selection) {
            answered = true;
            result = std::move(selection);
        });
        queue.advance(SELECTION_COPY_WAIT_SECONDS - 0.01);
        EXPECT_FALSE(answered) << "answered before the application had its time";
        queue.advance(0.02);
        EXPECT_TRUE(answered);
        return result;
    }

    std::optional<std::string> selected;
};

// The selection comes back as copied and the user's contents are put back; with nothing before,
// the copied text stays; nothing copied, or blanks only, is no selection.
TEST_F(SelectionCopy, ReturnsTheSelectionAsCopiedAndPutsThePasteboardBack) {
    const PasteboardSnapshot user = {
        PasteboardItem{{{"text/plain", "mine"}, {"text/html", "<b>mine</b>"}}}};
    struct Case {
        bool userHadContents;
        std::optional<std::string> selected, result, after;
    };
    for (const Case& c :
         {Case{true, "  make this formal\n", "  make this formal\n", "mine"},
          Case{false, "words", "words", "words"}, Case{true, std::nullopt, std::nullopt, "mine"},
          Case{true, " \n\t ", std::nullopt, "mine"}}) {
        SCOPED_TRACE(c.selected.value_or("(nothing)"));
        fresh(std::nullopt);
        SetUp(); // the application's copy key on the fresh desktop
        if (c.userHadContents) board->copyFromOtherApp(user);
        const long before = board->changeCount();
        selected = c.selected;
        EXPECT_EQ(copy(), c.result);
        EXPECT_EQ(board->text(), c.after);
        if (c.userHadContents) {
            EXPECT_EQ(board->contents(), user);
        }
        if (!c.selected) {
            EXPECT_EQ(board->changeCount(), before); // left exactly as it was
        }
    }
    EXPECT_EQ(keys->sent, std::vector<KeyChord>{*STANDARD_PASTE_STYLE.copy});
}

TEST_F(SelectionCopy, InTerminalsTheCopyKeyIsTheirsAndInXtermTheSelectionIsPrimary) {
    app->id = "kitty";
    selected = "rm -rf build";
    EXPECT_EQ(copy(), "rm -rf build");
    EXPECT_EQ(keys->sent, (std::vector<KeyChord>{{true, true, false, ChordKey::C}}));
    // xterm: no key at all (Ctrl+Shift+C would reach the program as ^C).
    keys->sent.clear();
    app->id = "xterm";
    primary->copyFromOtherApp({plainTextItem("git status")});
    std::optional<std::string> result;
    copySelection(queue, services(),
                  [&](std::optional<std::string> selection) { result = std::move(selection); });
    queue.advance(0);
    EXPECT_EQ(result, "git status");
    EXPECT_TRUE(keys->sent.empty());
}

} // namespace
} // namespace vak
