#include "rewrite/prompts.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(Prompts, TheInstructionsAreExactlyAsLongAsTheServicesExpect) {
    EXPECT_EQ(POLISH_INSTRUCTION.size(), 1140u);
    EXPECT_EQ(POLISH_TEXT_INSTRUCTION.size(), 1006u);
    EXPECT_EQ(COMMAND_INSTRUCTION.size(), 546u);
    EXPECT_EQ(std::count(POLISH_INSTRUCTION.begin(), POLISH_INSTRUCTION.end(), '\n'), 8);
    EXPECT_EQ(std::count(POLISH_TEXT_INSTRUCTION.begin(), POLISH_TEXT_INSTRUCTION.end(), '\n'), 8);
    EXPECT_EQ(std::count(COMMAND_INSTRUCTION.begin(), COMMAND_INSTRUCTION.end(), '\n'), 4);
}

TEST(Prompts, HouseStyleIsAppendedOnlyWhenThereIsOne) {
    EXPECT_EQ(contextSuffix(""), "");
    EXPECT_EQ(contextSuffix("plain British English"),
              "\nHouse style, always apply: plain British English. Keep this voice in every "
              "sentence without mentioning it.");
}

} // namespace
} // namespace vak
