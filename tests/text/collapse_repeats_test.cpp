#include "app/process_values.h"
#include "support/temp_dir.h"
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
    };
    for (const Case& c : cases)
        EXPECT_EQ(collapseRepeats(c.input), c.expected) << c.input;
}

TEST(CollapseRepeats, ShortTextsComeBackUnchangedLongerOnesRespaced) {
    EXPECT_EQ(collapseRepeats("  hi   hi  hi "), "  hi   hi  hi ");
    EXPECT_EQ(collapseRepeats(""), "");
    EXPECT_EQ(collapseRepeats("  one  two three   four "), "one two three four");
}

TEST(CollapseRepeats, LogsOnlyWhenItCollapsed) {
    const std::string logPath = processValues().LOG;
    const std::size_t before = test::readFixture(logPath).size();
    collapseRepeats("one two three four");
    EXPECT_EQ(test::readFixture(logPath).size(), before);
    collapseRepeats(repeat("loop", 7));
    EXPECT_NE(test::readFixture(logPath).substr(before).find(
                  "] ⚠️ collapsed a repetition loop in the transcript\n"),
              std::string::npos);
}

TEST(CollapseRepeats, HugeLoopsStayLinear) {
    EXPECT_EQ(collapseRepeats(repeat("again", 100000)), "again");
    EXPECT_EQ(collapseRepeats(repeat("to be", 50000)), "to be");
}

} // namespace
} // namespace vak
