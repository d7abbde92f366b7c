#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_pasteboard.h"
#include "session/selection_copy.h"
#include "support/manual_main_queue.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

struct SelectionCopy : ::testing::Test {
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

    test::ManualMainQueue queue;
    std::shared_ptr<FakePasteboard> board = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakeKeySynth> keys = std::make_shared<FakeKeySynth>();
    std::shared_ptr<FakeFrontmostApp> app = std::make_shared<FakeFrontmostApp>();
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
