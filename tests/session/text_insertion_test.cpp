#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_pasteboard.h"
#include "session/text_insertion.h"
#include "support/manual_main_queue.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::ManualMainQueue;

PasteboardSnapshot richContents() {
    return {
        PasteboardItem{{{"text/plain", "earlier"},
                        {"text/html", "<b>earlier</b>"},
                        {"application/x-vak-test", std::string("\0\x01\xff", 3)}}},
        PasteboardItem{{{"text/uri-list", "file:///tmp/a\r\n"}, {"image/png", "\x89PNG"}}},
    };
}

struct Insertion : ::testing::Test {
    std::shared_ptr<TextInserter> make() { return TextInserter::create(queue, {board, keys, app}); }

    ManualMainQueue queue;
    std::shared_ptr<FakePasteboard> board = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakeKeySynth> keys = std::make_shared<FakeKeySynth>();
    std::shared_ptr<FakeFrontmostApp> app = std::make_shared<FakeFrontmostApp>();
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

} // namespace
} // namespace vak
