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
struct Insertion : ::testing::Test {
    TextInserter::Services services() { return {board, keys, app, primary}; }
    std::shared_ptr<TextInserter> make() { return TextInserter::create(queue, services()); }
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

TEST_F(Insertion, PastesTheTextAndBringsTheUsersContentsBackWhole) {
    board->copyFromOtherApp(richContents());
    app->id = "org.gnome.texteditor";
    auto inserter = make();
    keys->onSend = [&](const KeyChord&) {
        EXPECT_EQ(board->text(), "it\u2019s done\u2026"); // the editor's typography
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

TEST_F(Insertion, WhereReadsAreSeenTheRestoreWaitsForTheApplicationsRead) {
    struct Case {
        bool focusedOnly;             // reads are the focused application's (X11)
        std::optional<double> readAt; // seconds after the paste; none: never
        double restoredAt;            // when the user's contents are back
    };
    const Case cases[] = {
        {true, 0.15, 0.5},         // a quick read
        {true, 2.45, 2.8},         // a busy editor reading late
        {false, 0.05, 1.5},        // anyone's read (a manager) keeps the fixed delay
        {true, std::nullopt, 8.0}, // no read: the bound
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.restoredAt);
        fresh();
        board->seeReads(c.focusedOnly);
        auto inserter = make();
        ASSERT_EQ(inserter->insert("dictated").outcome, InsertOutcome::Pasted);
        const double start = queue.now();
        const auto advanceTo = [&](double t) { queue.advance(start + t - queue.now()); };
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

// Quick pastes restore the contents from before the first; the restore stands aside when there
// is nothing to restore, the user copied meanwhile, or the inserter is gone.
TEST_F(Insertion, TheRestoreBringsBackWhatTheUserHadAndNothingElse) {
    struct Case {
        std::optional<std::string> before;
        bool pasteAgain, copyMeanwhile, inserterGone;
        std::string after;
    };
    const Case cases[] = {
        {std::nullopt, false, false, false, "hello"},
        {"before", true, false, false, "before"},
        {"before", false, true, false, "copied meanwhile"},
        {"before", false, false, true, "hello"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        fresh(c.before);
        auto inserter = make();
        inserter->insert("hello");
        queue.advance(0.5);
        if (c.pasteAgain) inserter->insert("again");
        queue.advance(0.5);
        if (c.copyMeanwhile) board->copyFromOtherApp({plainTextItem("copied meanwhile")});
        if (c.inserterGone) inserter.reset();
        queue.advance(1.1);
        EXPECT_EQ(board->text(), c.after);
        EXPECT_EQ(board->snapshotsTaken(), 1);
    }
}

TEST_F(Insertion, EachTerminalFamilyGetsItsOwnPasteKeyAndXtermsReadPrimaryToo) {
    constexpr KeyChord kCtrlShiftV{true, true, false, ChordKey::V};
    constexpr KeyChord kShiftInsert{false, true, false, ChordKey::Insert};
    // Found by the whole id or its last part; the text goes as typed, in plain quotes.
    const std::string command = "echo 'it's done...'";
    for (const auto& [id, paste] :
         {std::pair{"xterm", kShiftInsert}, std::pair{"org.kde.konsole", kCtrlShiftV}}) {
        SCOPED_TRACE(id);
        fresh("clipboard before");
        primary->copyFromOtherApp({plainTextItem("selected before")});
        app->id = id;
        std::optional<std::string> boardAtPaste, primaryAtPaste;
        keys->onSend = [&](const KeyChord&) {
            boardAtPaste = board->text();
            primaryAtPaste = primary->text();
        };
        auto inserter = make();
        inserter->insert(command);
        EXPECT_EQ(keys->sent, std::vector<KeyChord>{paste});
        EXPECT_EQ(boardAtPaste, command);
        EXPECT_EQ(primaryAtPaste, paste == kShiftInsert ? command : "selected before");
        queue.advance(1.6);
        EXPECT_EQ(board->text(), "clipboard before");
        EXPECT_EQ(primary->text(), "selected before");
    }
    for (const char* id : {"firefox", "terminal-notes", "kittybox"})
        EXPECT_EQ(pasteStyleFor(id), STANDARD_PASTE_STYLE) << id;
}

// Text that cannot arrive stays on the clipboard, untyped, and counts as the user's: a later paste
// gives it back. Where the key follows the clipboard write after a lead, the outcome waits for
// the key, and a key that fails then is no paste.
TEST_F(Insertion, TextThatCannotArriveStaysOnTheClipboardUntypedAndCountsAsTheUsers) {
    using P = WindowProtocol;
    using O = InsertOutcome;
    struct Case {
        bool anyWindow;
        WindowProtocol protocol;
        bool x11WindowsOnly, keysFail; // XTest through XWayland; keys refused
        double lead;
        InsertOutcome outcome;
    };
    const Case cases[] = {
        {false, P::Unknown, false, false, 0, O::NothingFocused}, // every window minimised
        {true, P::Wayland, false, false, 0, O::Pasted},          // a virtual keyboard
        {true, P::X11, true, false, 0, O::Pasted},
        {true, P::Wayland, true, false, 0, O::Unreachable},
        {true, P::Unknown, true, false, 0, O::Unreachable}, // a window XTest cannot tell
        {true, P::X11, false, true, 0, O::KeysFailed},
        {true, P::Wayland, false, false, 0.15, O::Pasted},
        {true, P::Wayland, false, true, 0.15, O::KeysFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.outcome) << " lead " << c.lead);
        fresh("user's own");
        app->id = "foot";
        app->nothingFocused = !c.anyWindow;
        app->protocol = c.protocol;
        keys->x11WindowsOnly = c.x11WindowsOnly;
        keys->fails = c.keysFail;
        keys->lead = c.lead;
        auto inserter = make();
        std::optional<InsertResult> result;
        inserter->insert("lost words", [&](const InsertResult& r) { result = r; });
        EXPECT_EQ(result.has_value(), c.lead == 0);
        queue.advance(c.lead + 0.01);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->outcome, c.outcome);
        // What the user presses instead: the application's own paste key, if one is known.
        EXPECT_EQ(result->pasteKey, pasteStyleFor(c.anyWindow ? "foot" : "").paste);
        const bool typed = c.outcome == O::Pasted || c.outcome == O::KeysFailed;
        EXPECT_EQ(keys->sent.size(), typed ? 1u : 0u);
        queue.advance(TextInserter::kRestoreBoundSeconds + 1);
        EXPECT_EQ(board->text(), c.outcome == O::Pasted ? "user's own" : "lost words");
        if (c.outcome == O::Pasted) continue;
        app->nothingFocused = false;
        app->protocol = P::X11;
        keys->fails = false;
        keys->lead = 0;
        EXPECT_EQ(inserter->insert("next words").outcome, O::Pasted);
        queue.advance(TextInserter::kRestoreBoundSeconds + 1);
        EXPECT_EQ(board->text(), "lost words");
    }
}

struct SelectionCopy : Insertion {
    void SetUp() override {
        keys->onSend = [this](const KeyChord& chord) {
            if (chord.key == ChordKey::C && selected) {
                board->copyFromOtherApp({plainTextItem(*selected)});
            }
        };
        app->id = "org.gnome.texteditor";
    }
    std::optional<std::string> copy() {
        std::optional<std::optional<std::string>> answer;
        copySelection(queue, services(), [&](std::optional<std::string> s) { answer = s; });
        queue.advance(SELECTION_COPY_WAIT_SECONDS - 0.01);
        EXPECT_FALSE(answer) << "answered before the application had its time";
        queue.advance(0.02);
        return answer.value_or("(no answer)");
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
        SetUp();
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
    copySelection(queue, services(), [&](std::optional<std::string> s) { result = s; });
    queue.advance(0);
    EXPECT_EQ(result, "git status");
    EXPECT_TRUE(keys->sent.empty());
}

} // namespace
} // namespace vak
