// The session's two trips through the pasteboard, against fakes: pasting text in with the user's
// contents restored afterwards, and copying the focused application's selection out.
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_pasteboard.h"
#include "session/selection_copy.h"
#include "session/text_insertion.h"
#include "support/manual_main_queue.h"

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

// The desktop as the session sees it: a pasteboard, synthetic keys and the focused application.
struct Desk : ::testing::Test {
    test::ManualMainQueue queue;
    std::shared_ptr<FakePasteboard> board = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakeKeySynth> keys = std::make_shared<FakeKeySynth>();
    std::shared_ptr<FakeFrontmostApp> app = std::make_shared<FakeFrontmostApp>();
};

struct Insertion : Desk {
    std::shared_ptr<TextInserter> make() { return TextInserter::create(queue, {board, keys, app}); }
};

TEST_F(Insertion, PastesTheTextAndBringsTheUsersContentsBackWhole) {
    board->copyFromOtherApp(richContents());
    app->id = "org.gnome.texteditor";
    auto inserter = make();
    keys->onSend = [&](SyntheticShortcut) {
        // At the moment of the paste the pasteboard holds our text, marked transient.
        EXPECT_EQ(board->text(), "VAK_TEST_INSERT_OK");
        EXPECT_TRUE(board->holdsTransientText());
    };
    inserter->insert("VAK_TEST_INSERT_OK");
    ASSERT_EQ(keys->sent.size(), 1u);
    EXPECT_EQ(keys->sent[0].first, SyntheticShortcut::Paste);
    EXPECT_EQ(keys->sent[0].second, "org.gnome.texteditor");
    queue.advance(1.49);
    EXPECT_EQ(board->text(), "VAK_TEST_INSERT_OK");
    queue.advance(0.02);
    EXPECT_EQ(board->contents(), richContents());
    EXPECT_FALSE(board->holdsTransientText());
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
        board = std::make_shared<FakePasteboard>();
        if (c.before) board->copyFromOtherApp({plainTextItem(*c.before)});
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

TEST_F(Insertion, TheTextFollowsTheReceivingApplicationsTypography) {
    auto inserter = make();
    app->id = "org.gnome.texteditor";
    inserter->insert("it's done...");
    EXPECT_EQ(board->text(), "it\u2019s done\u2026");
    app->id = "org.gnome.terminal";
    inserter->insert("it's done...");
    EXPECT_EQ(board->text(), "it's done...");
    EXPECT_EQ(keys->sent.back().second, "org.gnome.terminal");
}

struct SelectionCopy : Desk {
    // The focused application: on Copy it puts `selected` on the pasteboard (unless it has
    // nothing to copy).
    void SetUp() override {
        keys->onSend = [this](SyntheticShortcut shortcut) {
            if (shortcut == SyntheticShortcut::Copy && selected) {
                board->copyFromOtherApp({plainTextItem(*selected)});
            }
        };
        app->id = "org.gnome.texteditor";
    }

    // Runs a copy and returns what `done` got, checking it came only after the wait.
    std::optional<std::string> copy() {
        bool answered = false;
        std::optional<std::string> result;
        copySelection(queue, {board, keys, app}, [&](std::optional<std::string> selection) {
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

TEST_F(SelectionCopy, ReturnsTheSelectionAsCopiedAndPutsThePasteboardBack) {
    const PasteboardSnapshot user = {
        PasteboardItem{{{"text/plain", "mine"}, {"text/html", "<b>mine</b>"}}}};
    board->copyFromOtherApp(user);
    selected = "  make this formal\n";
    EXPECT_EQ(copy(), "  make this formal\n");
    EXPECT_EQ(board->contents(), user);
    ASSERT_EQ(keys->sent.size(), 1u);
    EXPECT_EQ(keys->sent[0],
              std::make_pair(SyntheticShortcut::Copy, std::string("org.gnome.texteditor")));
    // With nothing on the pasteboard before, the copied text stays there.
    board = std::make_shared<FakePasteboard>();
    selected = "words";
    EXPECT_EQ(copy(), "words");
    EXPECT_EQ(board->text(), "words");
}

TEST_F(SelectionCopy, NothingSelectedOrOnlyBlanksIsNoSelection) {
    board->copyFromOtherApp({plainTextItem("mine")});
    // The application copies nothing: the pasteboard is left exactly as it was.
    const long before = board->changeCount();
    EXPECT_EQ(copy(), std::nullopt);
    EXPECT_EQ(board->changeCount(), before);
    // Blanks and line breaks only: no selection, and the user's contents come back.
    selected = " \n\t ";
    EXPECT_EQ(copy(), std::nullopt);
    EXPECT_EQ(board->text(), "mine");
}

} // namespace
} // namespace vak
