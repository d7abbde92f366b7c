#include "support/log_capture.h"
#include "text/collapse_repeats.h"

#include <string>

#include <gtest/gtest.h>

namespace vak {
namespace {

std::string repeat(const std::string& phrase, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += (i > 0 ? " " : "") + phrase;
    return out;
}

TEST(CollapseRepeats, ThresholdsDependOnPhraseLength) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {repeat("go", 6), "go"},
        {repeat("go", 5), repeat("go", 5)},
        {repeat("thank you", 5), "thank you"},
        {repeat("thank you", 4), repeat("thank you", 4)},
        {repeat("see you soon", 4), "see you soon"},
        {repeat("see you soon", 3), repeat("see you soon", 3)},
        {repeat("one two three four five six", 4), "one two three four five six"},
        {repeat("a b c d e f g", 4), repeat("a b c d e f g", 4)}, // seven words: never a loop
        // Only the loop collapses; the words around it stay.
        {"I said " + repeat("no", 8) + " to him", "I said no to him"},
        {"start " + repeat("we will", 6) + " end", "start we will end"},
        // The first copy is kept as it was written.
        {"Thank you, thank you. THANK YOU thank you! (thank you)", "Thank you,"},
        {"so So so, so. so so", "so"},
        // Short texts come back as they were, longer ones with single spaces.
        {"  hi   hi  hi ", "  hi   hi  hi "},
        {"", ""},
        {"  one  two three   four ", "one two three four"},
        // Huge loops stay linear.
        {repeat("again", 100000), "again"},
        {repeat("to be", 50000), "to be"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(collapseRepeats(c.input, Repeats::loops), c.expected) << c.input.substr(0, 80);
}

TEST(CollapseRepeats, LogsOnlyWhenItCollapsed) {
    test::LogCapture log;
    collapseRepeats("one two three four", Repeats::loops);
    EXPECT_EQ(log.text(), "");
    collapseRepeats(repeat("loop", 7), Repeats::loops);
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"⚠️ collapsed a repetition loop in the transcript"});
}

} // namespace
} // namespace vak
